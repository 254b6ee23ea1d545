#pragma once

#include <cstdint>
#include <vector>

namespace kv {

// Interleaved stereo float samples.
struct AudioBuffer {
    static constexpr std::uint32_t kChannels = 2;

    std::vector<float> samples;
    double sampleRate = 0;  // of the samples; 0 for whatever rate the engine runs at

    std::uint32_t frames() const { return static_cast<std::uint32_t>(samples.size() / kChannels); }
    float peak() const;
};

}  // namespace kv

#pragma once

#include <cstdint>

namespace kv {

// One render call: interleaved stereo output to add into, and the host time at which its first
// frame will be heard.
struct RenderContext {
    float* output;
    std::uint32_t frames;
    std::uint64_t hostTime;
    double sampleRate;

    // The frame of this buffer at which `time` falls (negative: before it).
    std::int64_t frameAt(std::uint64_t time) const {
        const double seconds = (static_cast<double>(static_cast<std::int64_t>(time - hostTime))) * 1e-9;
        return static_cast<std::int64_t>(seconds * sampleRate + (seconds >= 0 ? 0.5 : -0.5));
    }
};

}  // namespace kv

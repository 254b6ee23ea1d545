#pragma once

#include <cstdint>

namespace kv {

// Keeps the output within ±1.0: the gain drops at once to hold a peak at the threshold and
// recovers over the release time.
class PeakLimiter {
public:
    static constexpr float kThreshold = 0.98F;

    explicit PeakLimiter(double sampleRate, double releaseSeconds = 0.06);
    void process(float* interleavedStereo, std::uint32_t frames);

private:
    float gain_ = 1.0F;
    float release_;
};

}  // namespace kv

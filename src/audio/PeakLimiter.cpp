#include "audio/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace kv {

PeakLimiter::PeakLimiter(double sampleRate, double releaseSeconds)
    : release_(static_cast<float>(1.0 - std::exp(-1.0 / (releaseSeconds * sampleRate)))) {}

void PeakLimiter::process(float* samples, std::uint32_t frames) {
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        float* left = samples + 2 * frame;
        const float peak = std::max(std::abs(left[0]), std::abs(left[1]));
        const float needed = peak * gain_ > kThreshold ? kThreshold / peak : 1.0F;
        gain_ = needed < gain_ ? needed : gain_ + (1.0F - gain_) * release_;
        left[0] = std::clamp(left[0] * gain_, -1.0F, 1.0F);
        left[1] = std::clamp(left[1] * gain_, -1.0F, 1.0F);
    }
}

}  // namespace kv

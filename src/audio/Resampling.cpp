#include "audio/Resampling.h"

#include <algorithm>
#include <cmath>

namespace kv {

AudioBuffer resampled(const AudioBuffer& input, double step) {
    if (step == 1 || step <= 0 || input.frames() == 0) return input;
    const auto frames = static_cast<std::uint32_t>(std::floor((input.frames() - 1) / step)) + 1;
    AudioBuffer output;
    output.sampleRate = input.sampleRate;
    output.samples.resize(static_cast<std::size_t>(frames) * 2);
    for (std::uint32_t j = 0; j < frames; ++j) {
        const double position = j * step;
        const auto k = static_cast<std::uint32_t>(position);
        const auto next = std::min(k + 1, input.frames() - 1);
        const auto fraction = static_cast<float>(position - k);
        for (std::uint32_t c = 0; c < 2; ++c) {
            output.samples[j * 2 + c] = input.samples[k * 2 + c] * (1 - fraction) + input.samples[next * 2 + c] * fraction;
        }
    }
    return output;
}

}  // namespace kv

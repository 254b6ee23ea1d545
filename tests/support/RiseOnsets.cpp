#include "support/RiseOnsets.h"

#include <algorithm>
#include <cmath>

namespace kv::test {

namespace {
float stepPeak(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    float peak = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i) peak = std::max(peak, std::abs(samples[i]));
    return peak;
}
}  // namespace

std::optional<std::size_t> onsetNear(const std::vector<float>& samples, double sampleRate, std::size_t around,
                                     std::size_t within, float floor) {
    const auto step = static_cast<std::size_t>(sampleRate / 1000);
    const std::size_t first = around > within + 5 * step ? around - within : 5 * step;
    const std::size_t last = std::min(samples.size(), around + within);
    std::optional<std::size_t> best;
    double bestRatio = 2;
    for (std::size_t at = first; at + step <= last; at += step) {
        const float level = stepPeak(samples, at, step);
        const double ratio = level / (stepPeak(samples, at - 5 * step, step) + 1e-6);
        if (level > floor && ratio > bestRatio) {
            bestRatio = ratio;
            best = at;
        }
    }
    if (!best) return std::nullopt;
    const float peak = stepPeak(samples, *best, step);
    std::size_t frame = *best;
    while (frame < *best + step && std::abs(samples[frame]) < peak / 5) ++frame;
    return frame;
}

}  // namespace kv::test

#include "playback/CountOffPlan.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

double bounded(double spacingMs) {
    return std::isfinite(spacingMs) ? std::clamp(spacingMs, 0.0, CountOffPlan::kMaxSpacingMs) : 0.0;
}

}  // namespace

CountOffPlan CountOffPlan::of(const std::vector<std::shared_ptr<KeyvoraAudio>>& sounds, const std::vector<double>& timesMs,
                              double spacingMs) {
    CountOffPlan plan;
    double spacing = bounded(spacingMs);
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        if (i < timesMs.size()) spacing = bounded(timesMs[i]);
        plan.ticks.push_back({sounds[i], plan.lengthMs, spacing});
        plan.lengthMs += spacing;
    }
    return plan;
}

}  // namespace kv

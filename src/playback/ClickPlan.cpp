#include "playback/ClickPlan.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr double kMaxIntervalSec = 60;

}  // namespace

ClickPlan ClickPlan::of(double intervalSec, std::optional<MetronomeBeats> beats, std::int64_t beatsPerMeasure,
                        std::int64_t startBeatOffset) {
    ClickPlan plan;
    plan.intervalSec = std::isfinite(intervalSec) ? std::clamp(intervalSec, kMinClickSpacingSeconds, kMaxIntervalSec)
                                                  : kMinClickSpacingSeconds;
    if (beats && beats->offsets.size() > 1) plan.offsetsSec = std::move(beats->offsets);
    if (beats && beats->volumes.size() > 1) plan.volumes = std::move(beats->volumes);
    plan.beatsPerMeasure = beatsPerMeasure;
    plan.startBeatOffset = startBeatOffset;
    return plan;
}

double ClickPlan::secondsOf(std::uint64_t tick) const {
    const auto& offsets = offsetsSec;
    if (offsets.empty()) return static_cast<double>(tick) * intervalSec;
    if (tick < offsets.size()) return offsets[tick];
    const double step = std::max(kMinClickSpacingSeconds,
                                 offsets.size() >= 2 ? offsets.back() - offsets[offsets.size() - 2] : intervalSec);
    return offsets.back() + static_cast<double>(tick - offsets.size() + 1) * step;
}

bool ClickPlan::accented(std::uint64_t tick) const {
    if (!volumes.empty()) return tick >= volumes.size() || volumes[tick] >= 1.0;
    if (beatsPerMeasure < 1) return true;
    const auto inMeasure = static_cast<std::int64_t>(tick % static_cast<std::uint64_t>(beatsPerMeasure));
    return (startBeatOffset + inMeasure) % beatsPerMeasure == 0;
}

}  // namespace kv

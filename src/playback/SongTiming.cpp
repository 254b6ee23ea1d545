#include "playback/SongTiming.h"

#include "base/JsonReading.h"

#include <algorithm>

namespace kv {

namespace {
constexpr double kFallbackBpm = 120;
}  // namespace

SongTiming::SongTiming(const nlohmann::json& tempoMap, bool useTempoMap, std::int32_t playTempo, double ppq) : ppq_(ppq) {
    const double requested = playTempo >= 1 ? playTempo : kFallbackBpm;
    if (useTempoMap && tempoMap.is_array() && !tempoMap.empty()) {
        auto bpmOf = [](const nlohmann::json& entry) {
            return entry.is_object() && entry.contains("bpm") ? json_reading::toDouble(entry["bpm"]) : 0.0;
        };
        const double first = bpmOf(tempoMap.front());
        const double scale = first > 0 && playTempo >= 1 ? playTempo / first : 1;
        points_.reserve(tempoMap.size());
        for (const auto& entry : tempoMap) {
            const double bpm = bpmOf(entry);
            if (bpm <= 0) continue;
            const double quarter = entry.contains("quarterPos") ? json_reading::toDouble(entry["quarterPos"]) : 0.0;
            points_.push_back({quarter * ppq, bpm * scale});
        }
        std::stable_sort(points_.begin(), points_.end(), [](const TempoPoint& a, const TempoPoint& b) { return a.tick < b.tick; });
    }
    if (points_.empty() || points_.front().tick > 0.001) points_.insert(points_.begin(), {0, requested});
    // Every event's time walks the points from the first; the sums are kept, in the same order,
    // so that finding an event's time is a search instead of a walk.
    millisecondsAtPoint_.reserve(points_.size());
    double previousTick = 0;
    double previousBpm = kFallbackBpm;
    double sum = 0;
    for (const TempoPoint& point : points_) {
        sum += (point.tick - previousTick) * 60000 / previousBpm / ppq_;
        millisecondsAtPoint_.push_back(sum);
        previousBpm = point.bpm;
        previousTick = point.tick;
    }
}

double SongTiming::millisecondsAtTick(double tick) const {
    // The points passed are those before the first whose tick reaches the event's.
    const auto reached = std::lower_bound(points_.begin(), points_.end(), tick,
                                          [](const TempoPoint& point, double value) { return point.tick < value; });
    const auto passed = static_cast<std::size_t>(reached - points_.begin());
    if (passed == 0) return (tick - 0) * 60000 / kFallbackBpm / ppq_;
    const TempoPoint& last = points_[passed - 1];
    return millisecondsAtPoint_[passed - 1] + (tick - last.tick) * 60000 / last.bpm / ppq_;
}

}  // namespace kv

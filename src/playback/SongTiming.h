#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <vector>

namespace kv {

// The tempo a prepared song is timed by: the requested tempo, or the web application's tempo
// map scaled so that its first entry plays at that tempo. The file's own tempo events never take
// part.
class SongTiming {
public:
    struct TempoPoint {
        double tick;
        double bpm;
    };

    // tempoMap: the request's entries ({quarterPos, bpm}); used when `useTempoMap` and not empty.
    SongTiming(const nlohmann::json& tempoMap, bool useTempoMap, std::int32_t playTempo, double ppq);

    // Milliseconds from the start of the file to the absolute tick. An event on a tempo change
    // still counts at the tempo before it, which gives the same time.
    double millisecondsAtTick(double tick) const;
    const std::vector<TempoPoint>& points() const { return points_; }

private:
    std::vector<TempoPoint> points_;
    std::vector<double> millisecondsAtPoint_;  // the sum up to each point, in the walk's own order
    double ppq_;
};

}  // namespace kv

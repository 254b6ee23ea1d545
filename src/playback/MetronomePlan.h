#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace kv {

// What the metronome of a tempo-mapped song is planned from.
struct MetronomeSong {
    nlohmann::json tempoMap;          // the request's entries, {quarterPos, bpm}, as given
    bool tempoMapEnabled = false;
    nlohmann::json timeSignatureMap;  // {quarterPos, beat, beatType}; absent or empty: the song's meter
    std::int32_t beat = 0;
    std::int32_t beatType = 0;
    std::int32_t tempo = 0;
    double startMs = 0;
    double endMs = 0;
};

// The clicks in seconds from the song start, with each click's volume (1 on a downbeat, else 0).
struct MetronomeBeats {
    std::vector<double> offsets;
    std::vector<double> volumes;
};

// Clicks come at least this far apart: a tempo map that would have them come faster (a tempo of a
// billion, entries out of order) loses the clicks in between.
inline constexpr double kMinClickSpacingSeconds = 0.1;

// Nothing without an enabled tempo map of two entries or more, a tempo, or two clicks. At most
// 500,000 clicks are considered, and the offsets rise by kMinClickSpacingSeconds at least.
std::optional<MetronomeBeats> buildMetronomeBeatOffsetsRealSeconds(const MetronomeSong& song);

// Milliseconds from the song start to the quarter position along the tempo map, entries taken
// in their given order, each bpm multiplied by the scale; an entry whose bpm is not above 0 keeps
// the tempo before it.
double effectiveMsAtQuarter(double quarter, const nlohmann::json& tempoMap, double scale);

}  // namespace kv

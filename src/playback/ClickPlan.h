#pragma once

#include "playback/MetronomePlan.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kv {

// The metronome's clicks of one play, counted from the song's start: when tick n sounds and
// whether it is a downbeat. Ticks go on until the play stops.
struct ClickPlan {
    double intervalSec = 0.5;         // between ticks without a beat list
    std::vector<double> offsetsSec;   // a tempo map's beats; past their end, their last spacing
    std::vector<double> volumes;      // 1 on a downbeat; past their end every tick is one
    std::int64_t beatsPerMeasure = 1; // without volumes: a downbeat every so many ticks
    std::int64_t startBeatOffset = 0; // the beat within the measure of tick 0

    // A spacing from a request may be any number: clicks come between ten a second and one a
    // minute. A beat list of fewer than two beats is none.
    static ClickPlan of(double intervalSec, std::optional<MetronomeBeats> beats, std::int64_t beatsPerMeasure,
                        std::int64_t startBeatOffset);

    double secondsOf(std::uint64_t tick) const;
    bool accented(std::uint64_t tick) const;
};

}  // namespace kv

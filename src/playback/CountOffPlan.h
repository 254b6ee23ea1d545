#pragma once

#include "playback/KeyvoraAudio.h"

#include <memory>
#include <vector>

namespace kv {

// A song's count-off, planned once: each sound with its moment from the count-off's start and the
// time it sounds for (until the next one), and the whole length, at whose end the song starts.
struct CountOffPlan {
    // Longer spacings are no count-off a song has; so long a wait is cut there.
    static constexpr double kMaxSpacingMs = 10'000;

    struct Tick {
        std::shared_ptr<KeyvoraAudio> sound;
        double atMs = 0;
        double spacingMs = 0;
    };
    std::vector<Tick> ticks;
    double lengthMs = 0;

    // The sounds in order, each `spacingMs` after the one before, or as far as the spacing the web
    // application gave for its tick (an entry of `timesMs`; a tick past their end keeps the last).
    // Spacings that are not numbers count 0, negative ones 0, huge ones kMaxSpacingMs.
    static CountOffPlan of(const std::vector<std::shared_ptr<KeyvoraAudio>>& sounds, const std::vector<double>& timesMs,
                           double spacingMs);
};

}  // namespace kv

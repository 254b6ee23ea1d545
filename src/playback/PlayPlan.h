#pragma once

#include "playback/ClickPlan.h"
#include "playback/ClickSound.h"
#include "playback/CountOffPlan.h"
#include "playback/MidiPlayList.h"
#include "playback/SongObject.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kv {

// Everything one play sounds of the prepared song, on one timeline, taken when it starts: its
// performance reads this and nothing the flows change, but for the volumes.
struct PlayPlan {
    std::uint64_t startHost = 0;      // the count-off's first tick
    std::uint64_t songStartHost = 0;  // baseTime: the song's first group, where the count-off ends
    CountOffPlan countOff;
    std::shared_ptr<const std::vector<MidiPlayList>> groups;
    std::int32_t first = 0;  // the range of groups played
    std::int32_t last = 0;
    SongObject::Synthesizers synthesizers;
    ClickPlan clicks;                    // from songStartHost
    ClickSound* clickSound = nullptr;    // none: no clicks
};

}  // namespace kv

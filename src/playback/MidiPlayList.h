#pragma once

#include "playback/MidiMessage.h"

#include <vector>

namespace kv {

// The events of a song that start at the same time.
struct MidiPlayList {
    double startTime = 0;  // ms
    std::vector<MidiMessage> listNotes;
};

}  // namespace kv

#pragma once

#include <cstdint>
#include <vector>

namespace kv {

// One MIDI event of a song.
struct MidiMessage {
    double timeStart = 0;       // ms from the song's start
    std::int32_t chanel = 0;    // 0 … 15 for note events, 0 for every other event
    std::int32_t instrument = 0;
    std::int32_t track = 0;
    std::vector<std::int32_t> array;  // up to three bytes, status first
};

}  // namespace kv

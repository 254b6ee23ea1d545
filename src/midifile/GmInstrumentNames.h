#pragma once

#include <string_view>

namespace kv {

// The 128 program names of the General MIDI Level 1 sound set.
class GmInstrumentNames {
public:
    // "Drums" on channel 9 (MIDI channel 10); the program's name for 0 … 127; else "Unknown".
    static std::string_view nameForChannel(int channel, int program);
};

}  // namespace kv

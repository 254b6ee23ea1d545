#pragma once

#include "core/WhiteNote.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kv {

// MIDI note numbers to note names and octaves: 60 is "C" octave 4.
class WhiteNoteConverter {
public:
    static constexpr std::array<std::string_view, 12> kNames = {
        "C", "Csharp", "D", "Dsharp", "E", "F", "Fsharp", "G", "Gsharp", "A", "Asharp", "B"};
    static constexpr std::int32_t kOctaveWidth = 12;

    static WhiteNote getWhiteNote(std::int32_t noteNumber);
    // A pitch that is none of the twelve names counts as "C".
    static std::int32_t convertWhiteNoteToNumber(std::string_view pitch, std::int32_t octave);
};

}  // namespace kv

#include "core/WhiteNoteConverter.h"

#include "base/Numbers.h"

#include <algorithm>
#include <string>

namespace kv {

WhiteNote WhiteNoteConverter::getWhiteNote(std::int32_t noteNumber) {
    // Floored, so that a number below 0 still names a note instead of indexing before the table.
    const std::int64_t number = noteNumber;
    const std::int64_t octave = (number >= 0 ? number : number - (kOctaveWidth - 1)) / kOctaveWidth;
    const auto index = static_cast<std::size_t>(number - octave * kOctaveWidth);
    return {std::string(kNames[index]), static_cast<std::int32_t>(octave - 1)};
}

std::int32_t WhiteNoteConverter::convertWhiteNoteToNumber(std::string_view pitch, std::int32_t octave) {
    const auto found = std::find(kNames.begin(), kNames.end(), pitch);
    const std::int64_t index = found == kNames.end() ? 0 : found - kNames.begin();
    // An octave from a request may be any 32-bit number: held within the range, not overflowed.
    return saturatedInt32(std::int64_t{kOctaveWidth} * (std::int64_t{octave} + 1) + index);
}

}  // namespace kv

#pragma once

#include <cstdint>
#include <span>

namespace kv {

// Whether a file's structure holds together before a reader that trusts it is let near it: the
// header, every track the header counts inside the file, and every event, SysEx and meta length
// inside its track.
bool isWellFormedMidiFile(std::span<const std::uint8_t> file);

}  // namespace kv

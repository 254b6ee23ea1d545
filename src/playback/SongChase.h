#pragma once

#include "playback/MidiPlayList.h"

#include <cstdint>
#include <vector>

namespace kv {

// The program and controller values in force on each channel where a play starts, as a
// sequencer chases them: a song started at measure 10 plays its own instruments. The messages, in
// channel order, program first; channel mode messages are not chased, and a reset of all
// controllers forgets those before it.
std::vector<std::vector<std::int32_t>> chaseBefore(const std::vector<MidiPlayList>& groups, std::int32_t first);

}  // namespace kv

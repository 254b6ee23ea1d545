#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <span>

namespace kv {

// What the web application learns of a standard MIDI file: its tempo map in quarter notes with
// measures and beats ("tempoMap": measure, beat, quarterPos, bpm, source "midi", text ""), and its
// instruments ("instruments": channel, program, name, isPercussion). Any bytes are accepted:
// what is not a MIDI file, or past a malformed part of one, adds nothing. Reads each byte at most
// once and holds memory in proportion to the events found, whatever the file's lengths claim.
nlohmann::json extractTempoMapAndInstruments(std::span<const std::uint8_t> file);

}  // namespace kv

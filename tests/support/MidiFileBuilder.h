#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kv::test {

// A track of a standard MIDI file, event by event, for tests and benchmarks.
class MidiTrackBuilder {
public:
    MidiTrackBuilder& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes);
    MidiTrackBuilder& tempo(std::uint32_t delta, std::uint32_t microsPerQuarter);
    // numerator / 2^denominatorPower
    MidiTrackBuilder& meter(std::uint32_t delta, std::uint8_t numerator, std::uint8_t denominatorPower);
    void variableLength(std::uint32_t value);

    std::vector<std::uint8_t> bytes;
};

// Header (format 1) and tracks, each closed with an end-of-track event.
std::vector<std::uint8_t> midiFile(std::uint16_t division, const std::vector<MidiTrackBuilder>& tracks);

}  // namespace kv::test

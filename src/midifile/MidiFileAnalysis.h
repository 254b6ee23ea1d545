#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kv {

// What the web application learns of a standard MIDI file: its tempo map in quarter notes with
// measures and beats, and its instruments.
struct MidiFileSummary {
    struct TempoEntry {
        std::int64_t measure;  // 1-based
        double beat;           // quarter notes into the measure
        double quarterPos;     // quarter notes from the start
        double bpm;            // rounded to three decimals
    };
    struct Instrument {
        int channel;
        int program;
        std::string_view name;
        bool isPercussion;
    };
    std::vector<TempoEntry> tempoMap;
    std::vector<Instrument> instruments;

    // {"tempoMap": [{measure, beat, quarterPos, bpm, source "midi", text ""}…],
    //  "instruments": [{channel, program, name, isPercussion}…]}
    nlohmann::json toJson() const;
};

// Any bytes are accepted: what is not a MIDI file, or past a malformed part of one, adds
// nothing. Reads each byte at most once and holds memory in proportion to the events found,
// whatever the file's lengths claim.
MidiFileSummary analyseMidiFile(std::span<const std::uint8_t> file);

// The summary as the web application is answered it.
nlohmann::json extractTempoMapAndInstruments(std::span<const std::uint8_t> file);

}  // namespace kv

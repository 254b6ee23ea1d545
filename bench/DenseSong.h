#pragma once

// A dense General MIDI song for the benchmarks: 16 channels, each on its own program, about 40
// notes a second in all.
#include <cstdint>
#include <filesystem>
#include <vector>

namespace kv::bench {

struct Event {
    double ms;
    std::uint8_t status, data1, data2;
};

std::vector<Event> denseSong(double seconds);
// As a type-0 standard MIDI file: 480 ticks a quarter note at 120 per minute.
void writeMidiFile(const std::vector<Event>& events, const std::filesystem::path& path);

}  // namespace kv::bench

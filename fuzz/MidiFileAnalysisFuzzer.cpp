// libFuzzer: the MIDI file analysis on any bytes. Built and run by `make fuzz`.
#include "midifile/MidiFileAnalysis.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto analysis = kv::extractTempoMapAndInstruments({data, size});
    if (analysis["instruments"].size() > 16) __builtin_trap();
    return 0;
}

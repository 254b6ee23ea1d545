// Throughput of the MIDI file analysis, each file analysed over and over for at least a second:
//   kv_bench_midi_analysis <file>...          prints "<file> <bytes> <MB/s> <MB/s with JSON>" lines: the
//                                             analysis, and the analysis with its JSON answer
//   kv_bench_midi_analysis --generate <file> [events]  writes a piano file of that many events
//                                             (200,000 by default)
#include "midifile/MidiFileAnalysis.h"

#include "support/MidiFileBuilder.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

// Two hands on two tracks, with tempo and meter changes on the first, running status throughout.
std::vector<std::uint8_t> generated(int events) {
    std::mt19937 random(9);
    kv::test::MidiTrackBuilder conductor;
    const int notesPerHand = events / 4;
    for (int bar = 0; bar < notesPerHand / 25; ++bar) {
        conductor.tempo(bar == 0 ? 0 : 1920, 400000 + static_cast<std::uint32_t>(random() % 200000));
        if (bar % 50 == 0) conductor.meter(0, static_cast<std::uint8_t>(2 + random() % 5), 2);
    }
    std::vector<kv::test::MidiTrackBuilder> tracks = {conductor};
    for (std::uint8_t hand = 0; hand < 2; ++hand) {
        kv::test::MidiTrackBuilder track;
        track.event(0, {static_cast<std::uint8_t>(0xC0 | hand), 0}).event(0, {static_cast<std::uint8_t>(0x90 | hand), 60, 80});
        for (int note = 1; note < notesPerHand; ++note) {
            const auto key = static_cast<std::uint8_t>((hand ? 36 : 60) + random() % 24);
            track.event(120, {key, static_cast<std::uint8_t>(40 + random() % 80)}).event(100, {key, 0});
        }
        tracks.push_back(std::move(track));
    }
    return kv::test::midiFile(480, tracks);
}

// Megabytes a second of the work, repeated for at least a second.
template <class Work>
double throughput(const std::vector<std::uint8_t>& bytes, Work work) {
    std::size_t runs = 0;
    std::size_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < 1) {
        sink += work();
        ++runs;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (sink == static_cast<std::size_t>(-1)) std::puts("");
    return static_cast<double>(bytes.size()) * static_cast<double>(runs) / elapsed / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--generate") {
        const auto bytes = generated(argc > 3 ? std::stoi(argv[3]) : 200000);
        std::ofstream(argv[2], std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const double analysis = throughput(bytes, [&] { return kv::analyseMidiFile(bytes).tempoMap.size(); });
        const double withJson = throughput(bytes, [&] { return kv::extractTempoMapAndInstruments(bytes).size(); });
        std::printf("%s %zu %.2f %.2f\n", argv[i], bytes.size(), analysis, withJson);
    }
    return 0;
}

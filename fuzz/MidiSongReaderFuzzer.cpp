// libFuzzer: a cached song's bytes as the prepare reads them: the structure check, then STK's
// reader on what passes it, timed at a tempo and a tempo map taken from the input. Built and run
// by `make fuzz`.
#include "midifile/MidiFileCheck.h"
#include "playback/MidiSongReader.h"
#include "playback/SongTiming.h"

#include <nlohmann/json.hpp>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

namespace {

// The reader opens the file by its name before it reads from memory.
class SongFile {
public:
    SongFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv-midi-song-fuzzer-XXXXXX").string();
        ::close(::mkstemp(pattern.data()));
        path_ = pattern;
    }
    ~SongFile() { std::filesystem::remove(path_); }

    const std::filesystem::path& write(std::span<const std::uint8_t> bytes) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path_;
    }

private:
    std::filesystem::path path_;
};

double ticksPerQuarter(std::span<const std::uint8_t> file) {
    const unsigned division = static_cast<unsigned>(file[12]) << 8 | file[13];
    return (division & 0x8000) || division == 0 ? 480 : division;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SongFile file;
    if (size < 2) return 0;
    // The first two bytes choose the tempo and, for odd ones, a tempo map that slows by half.
    const int tempo = 20 + data[0] % 281;
    const bool tempoMap = data[1] % 2 == 1;
    const std::span<const std::uint8_t> song(data + 2, size - 2);
    if (!kv::isWellFormedMidiFile(song)) return 0;
    const nlohmann::json map = nlohmann::json::array({{{"quarterPos", 0}, {"bpm", 120}}, {{"quarterPos", data[1]}, {"bpm", 60}}});
    const kv::SongTiming timing(map, tempoMap, tempo, ticksPerQuarter(song));
    const std::atomic<bool> stopPrepare{false};
    const auto events = kv::MidiSongReader::read(file.write(song), song, timing, stopPrepare);
    if (!events) return 0;
    double last = 0;
    for (const auto& group : events->groups) {
        if (!std::isfinite(group.startTime) || group.startTime < last || group.listNotes.empty()) __builtin_trap();
        last = group.startTime;
    }
    return 0;
}

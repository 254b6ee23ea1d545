#pragma once

#include "playback/MidiPlayList.h"
#include "playback/SongTiming.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace kv {

// A standard MIDI file read into the song's event groups with STK's reader.
struct SongEvents {
    std::vector<MidiPlayList> groups;  // by start time; within a group, in file order, track 0 first
    // The channels that get a synthesizer (those with a control or program change), with the
    // instrument of their first such event (-1 for channel 9).
    std::map<std::int32_t, std::int32_t> synthesizers;
};

class MidiSongReader {
public:
    // Every event but meta events of the file (whose bytes are `bytes`), timed by `timing`. While
    // `stopPrepare` is set, events are no longer grouped with others of their time. Nothing when
    // the reader rejects the file.
    static std::optional<SongEvents> read(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                                          const SongTiming& timing, const std::atomic<bool>& stopPrepare);
    // The index of the group nearest the song position (a tie goes to the later group); 0 for an
    // empty list.
    static std::int32_t getIndexFromMidi(const std::vector<MidiPlayList>& groups, double time);
};

}  // namespace kv

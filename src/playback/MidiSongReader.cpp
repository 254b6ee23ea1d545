#include "playback/MidiSongReader.h"

#include <stk/MidiFileIn.h>
#include <stk/Stk.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <streambuf>

namespace kv {

namespace {

constexpr double kSameTime = 1e-15;

// Groups by start time through a map, in the order the groups were made; a message joins the
// group of its time (within 1e-15 ms) when there is one.
class Grouping {
public:
    explicit Grouping(const std::atomic<bool>& stopPrepare) : stopPrepare_(stopPrepare) {}

    void add(MidiMessage message) {
        const double time = message.timeStart;
        if (!stopPrepare_) {
            const auto near = byTime_.lower_bound(time - kSameTime);
            if (near != byTime_.end() && std::abs(near->first - time) <= kSameTime) {
                groups_[near->second].listNotes.push_back(std::move(message));
                return;
            }
            byTime_.emplace(time, groups_.size());
        }
        groups_.push_back({time, {std::move(message)}});
    }

    std::vector<MidiPlayList> sorted() && {
        std::stable_sort(groups_.begin(), groups_.end(),
                         [](const MidiPlayList& a, const MidiPlayList& b) { return a.startTime < b.startTime; });
        return std::move(groups_);
    }

private:
    const std::atomic<bool>& stopPrepare_;
    std::map<double, std::size_t> byTime_;
    std::vector<MidiPlayList> groups_;
};

// The file's bytes in memory, for the reader's seeks and reads.
class MemoryBuffer : public std::streambuf {
public:
    explicit MemoryBuffer(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {
        setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override {
        const off_type base = direction == std::ios_base::beg ? 0 : direction == std::ios_base::cur ? gptr() - eback() : egptr() - eback();
        const off_type target = base + offset;
        if (target < 0 || target > egptr() - eback()) return pos_type(off_type(-1));
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override {
        return seekoff(off_type(position), std::ios_base::beg, mode);
    }

private:
    std::vector<char> bytes_;
};

// STK's reader seeks and reads the file for every event, each a system call or two; once it has
// opened the file, it reads the same bytes from memory instead.
class MemoryMidiFileIn : public stk::MidiFileIn {
public:
    MemoryMidiFileIn(const std::filesystem::path& file, std::span<const std::uint8_t> bytes)
        : stk::MidiFileIn(file.string()), memory_(bytes) {
        static_cast<std::basic_ios<char>&>(file_).rdbuf(&memory_);
    }

private:
    MemoryBuffer memory_;
};

// Every channel message goes to its own channel's synthesizer: a program, a pedal or a volume
// applies to the channel it names.
std::int32_t chanelOf(std::uint8_t status) {
    return status < 0xF0 ? status & 0x0F : 0;
}

void readTrack(stk::MidiFileIn& reader, unsigned track, const SongTiming& timing, Grouping& grouping, SongEvents& song) {
    std::vector<unsigned char> event;
    double tick = 0;
    std::int32_t program = 0;
    while (true) {
        tick += static_cast<double>(reader.getNextEvent(&event, track));
        if (event.empty()) return;
        const std::uint8_t status = event[0];
        if (status == 0xFF) continue;
        const std::uint8_t kind = status & 0xF0;
        const std::int32_t second = event.size() > 1 ? event[1] : 0;
        // A channel with notes and no program plays General MIDI's default, the kit on channel 10.
        if (kind == 0xB0 || kind == 0xC0 || kind == 0x90) {
            const std::int32_t channel = status & 0x0F;
            song.synthesizers.emplace(channel, channel == 9 ? -1 : kind == 0x90 ? 0 : second);
        }
        if (kind == 0xC0) program = second;
        MidiMessage message;
        message.timeStart = timing.millisecondsAtTick(tick);
        message.chanel = chanelOf(status);
        message.track = static_cast<std::int32_t>(track);
        message.instrument = program;
        message.array.assign(event.begin(), event.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, event.size())));
        grouping.add(std::move(message));
    }
}

}  // namespace

std::optional<SongEvents> MidiSongReader::read(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                                               const SongTiming& timing, const std::atomic<bool>& stopPrepare) {
    try {
        MemoryMidiFileIn reader(file, bytes);
        SongEvents song;
        Grouping grouping(stopPrepare);
        for (unsigned track = 0; track < reader.getNumberOfTracks(); ++track) readTrack(reader, track, timing, grouping, song);
        song.groups = std::move(grouping).sorted();
        return song;
    } catch (const stk::StkError&) {
        return std::nullopt;
    } catch (const std::out_of_range&) {
        return std::nullopt;  // STK reads a meta event shorter than its kind with a checked index
    }
}

std::int32_t MidiSongReader::getIndexFromMidi(const std::vector<MidiPlayList>& groups, double time) {
    if (groups.empty()) return 0;
    // The first group at or after the position, then the nearer of it and the one before.
    const auto after = std::lower_bound(groups.begin(), groups.end(), time - kSameTime,
                                        [](const MidiPlayList& group, double value) { return group.startTime < value; });
    if (after == groups.end()) return static_cast<std::int32_t>(groups.size() - 1);
    const auto index = static_cast<std::int32_t>(after - groups.begin());
    if (std::abs(after->startTime - time) <= kSameTime || index == 0) return index;
    const double before = (after - 1)->startTime;
    return time - before < after->startTime - time ? index - 1 : index;
}

}  // namespace kv

#include "midifile/MidiFileCheck.h"

#include "midifile/TrackReader.h"

#include <cstring>

namespace kv {

namespace {

bool skipWhole(TrackReader& reader, std::uint64_t count) {
    if (!reader.has(count)) return false;
    reader.skip(count);
    return true;
}

// As a reader of files takes them: running status is that of the last channel message, and
// SysEx and meta events leave it as it was.
bool wellFormedTrack(std::span<const std::uint8_t> track) {
    TrackReader reader(track);
    std::uint8_t running = 0;
    while (!reader.atEnd()) {
        if (!reader.variableLength() || reader.atEnd()) return false;
        std::uint8_t status = reader.at(0);
        if (status & 0x80) {
            reader.next();
        } else if (running) {
            status = running;
        } else {
            return false;  // data with no status before it
        }
        if (status == 0xF0 || status == 0xF7) {
            const auto length = reader.variableLength();
            if (!length || !skipWhole(reader, *length)) return false;
        } else if (status == 0xFF) {
            if (reader.atEnd()) return false;
            reader.next();
            const auto length = reader.variableLength();
            if (!length || !skipWhole(reader, *length)) return false;
        } else if (status > 0xF0) {
            return false;  // no system message but SysEx belongs in a file
        } else {
            running = status;
            const std::uint64_t data = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            if (!skipWhole(reader, data)) return false;
        }
    }
    return true;
}

}  // namespace

bool isWellFormedMidiFile(std::span<const std::uint8_t> file) {
    if (file.size() < 14 || std::memcmp(file.data(), "MThd", 4) != 0) return false;
    const std::uint64_t headerLength = bigEndian(file.data() + 4, 4);
    if (headerLength < 6 || headerLength > file.size() - 8) return false;
    const std::uint32_t tracks = bigEndian(file.data() + 10, 2);
    std::uint64_t chunk = 8 + headerLength;
    for (std::uint32_t track = 0; track < tracks; ++track) {
        if (file.size() - chunk < 8 || std::memcmp(file.data() + chunk, "MTrk", 4) != 0) return false;
        const std::uint64_t length = bigEndian(file.data() + chunk + 4, 4);
        if (length > file.size() - chunk - 8) return false;
        if (!wellFormedTrack(file.subspan(chunk + 8, length))) return false;
        chunk += 8 + length;
    }
    return tracks > 0;
}

}  // namespace kv

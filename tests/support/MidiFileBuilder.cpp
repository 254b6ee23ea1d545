#include "support/MidiFileBuilder.h"

namespace kv::test {

namespace {
void bigEndian(std::vector<std::uint8_t>& into, std::uint32_t value, int count) {
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8) into.push_back(static_cast<std::uint8_t>(value >> shift));
}
}  // namespace

void MidiTrackBuilder::variableLength(std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value);
    for (int i = count - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(groups[i] | (i ? 0x80 : 0)));
}

MidiTrackBuilder& MidiTrackBuilder::event(std::uint32_t delta, std::initializer_list<std::uint8_t> eventBytes) {
    variableLength(delta);
    bytes.insert(bytes.end(), eventBytes);
    return *this;
}

MidiTrackBuilder& MidiTrackBuilder::tempo(std::uint32_t delta, std::uint32_t micros) {
    return event(delta, {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(micros >> 16), static_cast<std::uint8_t>(micros >> 8),
                         static_cast<std::uint8_t>(micros)});
}

MidiTrackBuilder& MidiTrackBuilder::meter(std::uint32_t delta, std::uint8_t numerator, std::uint8_t denominatorPower) {
    return event(delta, {0xFF, 0x58, 0x04, numerator, denominatorPower, 24, 8});
}

std::vector<std::uint8_t> midiFile(std::uint16_t division, const std::vector<MidiTrackBuilder>& tracks) {
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    bigEndian(file, static_cast<std::uint32_t>(tracks.size()), 2);
    bigEndian(file, division, 2);
    for (const auto& track : tracks) {
        file.insert(file.end(), {'M', 'T', 'r', 'k'});
        bigEndian(file, static_cast<std::uint32_t>(track.bytes.size() + 4), 4);
        file.insert(file.end(), track.bytes.begin(), track.bytes.end());
        file.insert(file.end(), {0x00, 0xFF, 0x2F, 0x00});
    }
    return file;
}

}  // namespace kv::test

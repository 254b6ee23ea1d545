#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kv {

// A standard MIDI file's numbers are big-endian.
inline std::uint32_t bigEndian(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

// One track's bytes, read forward; no read passes the end, whatever a length claims.
class TrackReader {
public:
    explicit TrackReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool atEnd() const { return position_ >= bytes_.size(); }
    bool has(std::uint64_t count) const { return count <= bytes_.size() - position_; }
    std::uint8_t at(std::size_t offset) const { return bytes_[position_ + offset]; }
    std::uint8_t next() { return bytes_[position_++]; }
    void skip(std::uint64_t count) { position_ = has(count) ? position_ + count : bytes_.size(); }

    // Seven bits a byte, the last byte's top bit clear; nothing when the bytes end inside it.
    // A longer number than 64 bits wraps, as unsigned arithmetic does.
    std::optional<std::uint64_t> variableLength() {
        std::uint64_t value = 0;
        while (!atEnd()) {
            const std::uint8_t byte = next();
            value = value << 7 | (byte & 0x7F);
            if (!(byte & 0x80)) return value;
        }
        return std::nullopt;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

}  // namespace kv

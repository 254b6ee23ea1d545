#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kv {

// Whole MIDI messages of any length, SysEx included, from one thread to one other: the writer
// neither locks nor allocates, so it may be a real-time thread.
class MidiByteRing {
public:
    // Capacity in bytes, a power of two; allocated once here.
    explicit MidiByteRing(std::size_t capacity) : buffer_(capacity), mask_(capacity - 1) {}

    // False, and nothing written, when the message does not fit in the free space.
    bool push(const unsigned char* bytes, std::size_t size) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t used = tail - head_.load(std::memory_order_acquire);
        const auto length = static_cast<std::uint32_t>(size);
        if (size > UINT32_MAX || buffer_.size() - used < sizeof length + size) return false;
        copyIn(tail, &length, sizeof length);
        copyIn(tail + sizeof length, bytes, size);
        tail_.store(tail + sizeof length + size, std::memory_order_release);
        return true;
    }

    // The next message into `message`; false when none is waiting.
    bool pop(std::vector<unsigned char>& message) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        std::uint32_t length = 0;
        copyOut(head, &length, sizeof length);
        message.resize(length);
        copyOut(head + sizeof length, message.data(), length);
        head_.store(head + sizeof length + length, std::memory_order_release);
        return true;
    }

private:
    void copyIn(std::size_t at, const void* data, std::size_t size) {
        if (size == 0) return;
        const std::size_t start = at & mask_;
        const std::size_t first = std::min(size, buffer_.size() - start);
        std::memcpy(buffer_.data() + start, data, first);
        std::memcpy(buffer_.data(), static_cast<const unsigned char*>(data) + first, size - first);
    }

    void copyOut(std::size_t at, void* data, std::size_t size) const {
        if (size == 0) return;
        const std::size_t start = at & mask_;
        const std::size_t first = std::min(size, buffer_.size() - start);
        std::memcpy(data, buffer_.data() + start, first);
        std::memcpy(static_cast<unsigned char*>(data) + first, buffer_.data(), size - first);
    }

    std::vector<unsigned char> buffer_;
    std::size_t mask_;
    std::atomic<std::size_t> head_{0};  // total bytes read
    std::atomic<std::size_t> tail_{0};  // total bytes written
};

}  // namespace kv

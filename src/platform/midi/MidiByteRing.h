#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kv {

// Whole MIDI messages of any length, SysEx included, each with the host time it arrived at, from
// one thread to one other: the writer neither locks nor allocates, so it may be a real-time
// thread. Written by hand, not with boost::lockfree::spsc_queue: a record (its length, its time
// and its bytes) must become visible whole, which one publication of the write position gives
// and that queue's separate pushes do not.
class MidiByteRing {
public:
    // Capacity in bytes, a power of two; allocated once here.
    explicit MidiByteRing(std::size_t capacity) : buffer_(capacity), mask_(capacity - 1) {}

    // False, and nothing written, when the message does not fit in the free space.
    bool push(const unsigned char* bytes, std::size_t size, std::uint64_t arrival) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t used = tail - head_.load(std::memory_order_acquire);
        const Header header{static_cast<std::uint32_t>(size), arrival};
        if (size > UINT32_MAX || buffer_.size() - used < sizeof header + size) return false;
        copyIn(tail, &header, sizeof header);
        copyIn(tail + sizeof header, bytes, size);
        tail_.store(tail + sizeof header + size, std::memory_order_release);
        return true;
    }

    // The next message into `message` and its arrival time; false when none is waiting.
    bool pop(std::vector<unsigned char>& message, std::uint64_t& arrival) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        Header header;
        copyOut(head, &header, sizeof header);
        message.resize(header.length);
        copyOut(head + sizeof header, message.data(), header.length);
        arrival = header.arrival;
        head_.store(head + sizeof header + header.length, std::memory_order_release);
        return true;
    }

private:
    struct Header {
        std::uint32_t length = 0;
        std::uint64_t arrival = 0;
    };

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

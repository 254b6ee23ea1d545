#pragma once

#include "platform/midi/MidiByteRing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kv {

// What a JACK server shows a client's MIDI input port in one process callback.
class MidiCycle {
public:
    virtual ~MidiCycle() = default;
    // The frame at which the server's current cycle began, read now.
    virtual std::uint32_t frameTime() = 0;
    virtual std::uint32_t eventCount() = 0;
    // The event's bytes; false when the buffer no longer holds that event.
    virtual bool event(std::uint32_t index, const unsigned char*& bytes, std::size_t& size) = 0;
};

// Copies each cycle's events into a ring whole or not at all, on the process thread, without a
// lock or an allocation. A process callback that runs late (a server without real-time
// scheduling, a loaded machine) can find the server already in the next cycle, whose sender
// rewrites the buffer being read: an emptied buffer, or other events than were sent. A read is
// kept only when the buffer and the server's cycle stayed as they were while it was copied.
class MidiCycleReader {
public:
    // A JACK MIDI buffer holds no more.
    static constexpr std::size_t kMaxBytes = 32 * 1024;
    static constexpr std::size_t kMaxEvents = 4096;

    MidiCycleReader();

    // The messages queued, each stamped `arrival`.
    std::size_t read(MidiCycle& cycle, std::uint64_t arrival, MidiByteRing& ring);
    // Messages of reads that did not stay whole, and messages the ring had no room for.
    std::uint64_t lost() const { return lost_.load(std::memory_order_relaxed); }

private:
    std::vector<unsigned char> bytes_;
    std::vector<std::pair<std::size_t, std::size_t>> events_;  // offset in bytes_, size
    std::atomic<std::uint64_t> lost_{0};
};

}  // namespace kv

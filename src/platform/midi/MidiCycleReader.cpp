#include "platform/midi/MidiCycleReader.h"

namespace kv {

MidiCycleReader::MidiCycleReader() {
    bytes_.reserve(kMaxBytes);
    events_.reserve(kMaxEvents);
}

std::size_t MidiCycleReader::read(MidiCycle& cycle, std::uint64_t arrival, MidiByteRing& ring) {
    const std::uint32_t begun = cycle.frameTime();
    const std::uint32_t count = cycle.eventCount();
    if (count == 0) return 0;
    bytes_.clear();
    events_.clear();
    bool whole = true;
    for (std::uint32_t index = 0; index < count && whole; ++index) {
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        whole = cycle.event(index, data, size) && events_.size() < kMaxEvents && bytes_.size() + size <= kMaxBytes;
        if (whole) {
            events_.emplace_back(bytes_.size(), size);
            bytes_.insert(bytes_.end(), data, data + size);
        }
    }
    if (!whole || cycle.eventCount() != count || cycle.frameTime() != begun) {
        lost_.fetch_add(count, std::memory_order_relaxed);
        return 0;
    }
    std::size_t queued = 0;
    for (const auto& [offset, size] : events_) {
        if (ring.push(bytes_.data() + offset, size, arrival)) {
            ++queued;
        } else {
            lost_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    return queued;
}

}  // namespace kv

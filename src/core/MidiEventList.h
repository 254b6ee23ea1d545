#pragma once

#include "core/MidiEvent.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace kv {

// The played keys collected by the MIDI input and taken by the flows: each operation is whole
// under one small lock. Bounded, so that a flooding device cannot exhaust memory.
class MidiEventList {
public:
    static constexpr std::size_t kMaxEvents = 100'000;

    // False, and the event dropped (logged once per filling), when the list is full.
    bool append(MidiEvent event);
    // Empties the list, then appends.
    void replaceWith(MidiEvent event);
    std::vector<MidiEvent> snapshot() const;
    std::vector<MidiEvent> takeAll();
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::vector<MidiEvent> events_;
    bool overflowLogged_ = false;
};

}  // namespace kv

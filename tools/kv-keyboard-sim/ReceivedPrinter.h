#pragma once

#include "platform/midi/MidiByteRing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <semaphore>
#include <string>
#include <thread>

// Prints what the input port receives, away from the MIDI system's process thread, which only
// copies each message into the ring and wakes the printer: a reader that writes to a pipe there
// falls behind its cycle when a burst comes on a loaded machine. Messages the input reports lost
// are printed as such, so that nothing that was not sent is ever printed as received.
class ReceivedPrinter {
public:
    ReceivedPrinter(bool decodeLeds, std::function<void(const std::string&)> printLine);
    // Prints what is still waiting.
    ~ReceivedPrinter();
    ReceivedPrinter(const ReceivedPrinter&) = delete;
    ReceivedPrinter& operator=(const ReceivedPrinter&) = delete;

    kv::MidiByteRing& ring() { return ring_; }
    // On the process thread, after messages were queued.
    void wake() { waiting_.release(); }
    // How many messages the input has lost so far; read by the printer.
    void watchLosses(std::function<std::uint64_t()> lost) { lost_ = std::move(lost); }

private:
    void run();
    void print(std::uint64_t monotonicNs, const std::vector<unsigned char>& bytes) const;

    const bool decodeLeds_;
    const std::function<void(const std::string&)> printLine_;
    kv::MidiByteRing ring_{std::size_t{1} << 20};
    std::counting_semaphore<> waiting_{0};
    std::atomic<bool> stopping_{false};
    std::function<std::uint64_t()> lost_;
    std::thread printer_;
};

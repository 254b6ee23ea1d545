#pragma once

#include "audio/MidiReceiver.h"
#include "base/HostClock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kv::test {

// What a fake was handed, from any thread; the test waits for what it expects with a generous
// bound only a hang reaches.
template <class Entry>
class Recorded {
public:
    void add(Entry entry) {
        const std::lock_guard lock(mutex_);
        entries_.push_back(entry);
        changed_.notify_all();
    }
    template <class Done>
    std::vector<Entry> waitUntil(Done done) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return done(entries_); });
        return entries_;
    }
    std::vector<Entry> all() { return waitUntil([](const auto&) { return true; }); }
    void clear() {
        const std::lock_guard lock(mutex_);
        entries_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
};

// One message a synthesizer was sent, compared by its bytes alone; with the host time it was for
// and when it came.
struct Sent {
    int command = 0, channel = 0, data1 = 0, data2 = 0;
    std::uint64_t hostTime = 0;
    std::uint64_t arrived = 0;
    bool operator==(const Sent& other) const {
        return command == other.command && channel == other.channel && data1 == other.data1 && data2 == other.data2;
    }
    bool allSoundOff() const { return command == 0xB0 && data1 == 120; }
};

class RecordingReceiver : public MidiReceiver {
public:
    bool send(std::uint8_t command, int channel, std::uint8_t data1, std::uint8_t data2, std::uint64_t hostTime) override {
        sent.add({command, channel, data1, data2, hostTime, host_clock::now()});
        return true;
    }
    Recorded<Sent> sent;
};

}  // namespace kv::test

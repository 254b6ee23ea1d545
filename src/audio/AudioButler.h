#pragma once

#include "audio/PlayerCompletion.h"
#include "audio/SpscQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <semaphore>
#include <thread>

namespace kv {

// The audio thread never waits, frees or calls back: it hands that to the butler, one thread
// ("AudioButler") that it summons when there is something to do. The butler runs the finished
// buffers' completion handlers (and so releases the buffers), the engine's chores (freeing
// what was taken out of the graph) and the chores others add (topping up the rings a node reads).
class AudioButler {
public:
    static constexpr std::size_t kCompletions = 1024;

    explicit AudioButler(std::function<void()> chores);
    ~AudioButler();
    AudioButler(const AudioButler&) = delete;
    AudioButler& operator=(const AudioButler&) = delete;

    // Audio thread: false, and nothing taken, when the queue is full.
    bool post(PlayerCompletion&& completion);
    // Audio thread: wakes the butler; a no-op while it has not yet answered the last summons.
    void summon();

    // Any thread but the butler's: the chore runs at every summons from now on, until removed.
    std::uint64_t addChore(std::function<void()> chore);
    // Waits for a pass of the chore in progress: once this returns, it runs no more.
    void removeChore(std::uint64_t id);

private:
    void run();
    void runAdded();

    // Hand-written, not boost::lockfree::spsc_queue: that queue copies on push, and copying a
    // completion handler may allocate on the audio thread; this one moves.
    SpscQueue<PlayerCompletion, kCompletions> completions_;
    std::function<void()> chores_;
    std::mutex addedMutex_;  // never taken by the audio thread
    std::map<std::uint64_t, std::function<void()>> added_;
    std::uint64_t lastId_ = 0;
    std::binary_semaphore wake_{0};
    std::atomic<bool> summoned_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;  // last: it runs on everything above
};

}  // namespace kv

#pragma once

#include "platform/audio/PlayerCompletion.h"
#include "platform/audio/SpscQueue.h"

#include <atomic>
#include <functional>
#include <semaphore>
#include <thread>

namespace kv {

// The audio thread never waits, frees or calls back: it hands that to the butler, one thread
// ("AudioButler") that it summons when there is something to do. The butler runs the finished
// buffers' completion handlers (and so releases the buffers) and the engine's chores (freeing
// what was taken out of the graph).
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

private:
    void run();

    // Hand-written, not boost::lockfree::spsc_queue: that queue copies on push, and copying a
    // completion handler may allocate on the audio thread; this one moves.
    SpscQueue<PlayerCompletion, kCompletions> completions_;
    std::function<void()> chores_;
    std::binary_semaphore wake_{0};
    std::atomic<bool> summoned_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;  // last: it runs on everything above
};

}  // namespace kv

#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kv {

// A queue of work run in order on a thread of its own that lives only while there is work: for
// rare, long jobs (decoding a song's stems, a certificate check) that must not hold a thread in
// an idle service. stop() (or destruction) drops what is still queued; the work in progress
// finishes first; later work is dropped.
class OnDemandQueue {
public:
    explicit OnDemandQueue(std::string name);
    ~OnDemandQueue();
    OnDemandQueue(const OnDemandQueue&) = delete;
    OnDemandQueue& operator=(const OnDemandQueue&) = delete;

    // Safe from any thread, the queue's own included.
    void async(std::function<void()> work);
    void stop();
    bool isCurrent() const { return std::this_thread::get_id() == runner_.load(); }
    // Whether a thread runs the queue's work now.
    bool isRunning();

private:
    void drain();

    std::string name_;
    std::mutex mutex_;  // guards work_, running_, stopped_, thread_
    std::deque<std::function<void()>> work_;
    bool running_ = false;
    bool stopped_ = false;
    std::thread thread_;  // the latest runner; an earlier one has ended once running_ was cleared
    std::atomic<std::thread::id> runner_{};
};

}  // namespace kv

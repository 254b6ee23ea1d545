#include "platform/dispatch/OnDemandQueue.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

namespace kv {

OnDemandQueue::OnDemandQueue(std::string name) : name_(std::move(name)) {}

OnDemandQueue::~OnDemandQueue() {
    stop();
}

void OnDemandQueue::async(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    work_.push_back(std::move(work));
    if (running_) return;
    running_ = true;
    // The runner before cleared running_ as its last step under this lock: it is ending.
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([this] { drain(); });
}

void OnDemandQueue::stop() {
    std::thread last;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        work_.clear();
        last = std::move(thread_);
    }
    if (last.joinable() && last.get_id() != std::this_thread::get_id()) last.join();
    if (last.joinable()) last.detach();  // stopped from its own work: it ends as that work returns
}

bool OnDemandQueue::isRunning() {
    std::lock_guard lock(mutex_);
    return running_;
}

// A task that throws is dropped, not the queue: it goes on with the next one.
void OnDemandQueue::drain() {
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    runner_ = std::this_thread::get_id();
    while (true) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (work_.empty()) {
                runner_ = std::thread::id{};
                running_ = false;
                return;
            }
            work = std::move(work_.front());
            work_.pop_front();
        }
        try {
            work();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "[%s] a task failed: %s\n", name_.c_str(), error.what());
        }
    }
}

}  // namespace kv

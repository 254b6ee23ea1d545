#include "stems/StemFiller.h"

#include "platform/dispatch/ThreadPriority.h"

namespace kv {

StemFiller::StemFiller() : thread_([this](std::stop_token stop) { run(stop); }) {}

StemFiller::~StemFiller() {
    thread_.request_stop();
    changed_.notify_all();
}

void StemFiller::sync(const std::function<void()>& work) {
    const std::lock_guard lock(mutex_);
    work();
}

void StemFiller::fillEvery6ms(std::vector<std::shared_ptr<StemRenderer>> stems) {
    {
        const std::lock_guard lock(mutex_);
        stems_ = std::move(stems);
    }
    changed_.notify_all();
}

void StemFiller::stopFilling() {
    fillEvery6ms({});
}

void StemFiller::run(std::stop_token stop) {
    nameCurrentThread("StemFill");
    raiseCurrentThreadPriority();
    std::unique_lock lock(mutex_);
    auto next = std::chrono::steady_clock::now() + kPeriod;
    while (!stop.stop_requested()) {
        if (stems_.empty()) {
            changed_.wait(lock, stop, [this] { return !stems_.empty(); });
            next = std::chrono::steady_clock::now() + kPeriod;
            continue;
        }
        changed_.wait_until(lock, stop, next, [] { return false; });
        if (stop.stop_requested()) return;
        if (std::chrono::steady_clock::now() < next) continue;  // the stems changed meanwhile
        for (const auto& stem : stems_) stem->fill();
        next += kPeriod;
        if (next < std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now() + kPeriod;  // fell behind
    }
}

}  // namespace kv

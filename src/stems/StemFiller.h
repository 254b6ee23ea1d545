#pragma once

#include "stems/StemRenderer.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kv {

// The one thread ("StemFill", at raised priority) that tops up every playing stem's ring every
// 6 ms. Arming and tear-down run under its lock, so they never meet a fill in progress.
class StemFiller {
public:
    static constexpr auto kPeriod = std::chrono::milliseconds(6);

    StemFiller();
    ~StemFiller();
    StemFiller(const StemFiller&) = delete;
    StemFiller& operator=(const StemFiller&) = delete;

    // Runs the work while no fill runs, and waits for it.
    void sync(const std::function<void()>& work);
    // The stems filled from now on (none: the timer rests).
    void fillEvery6ms(std::vector<std::shared_ptr<StemRenderer>> stems);
    void stopFilling();

private:
    void run(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<std::shared_ptr<StemRenderer>> stems_;  // under mutex_
    std::jthread thread_;  // last: it runs on everything above
};

}  // namespace kv

#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/RepeatingTimer.h"
#include "platform/dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(MainQueue, WorkPostedFromOtherThreadsRunsThereInDelayOrder) {
    MainQueue queue;
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::promise<void> done;
    std::thread poster([&] {
        queue.asyncAfter(60ms, [&] {
            order.push_back(3);
            done.set_value();
        });
        queue.asyncAfter(20ms, [&] { order.push_back(2); });
        queue.async([&] {
            allOnMain = allOnMain && MainQueue::isCurrentThread();
            order.push_back(1);
        });
    });
    done.get_future().wait();
    poster.join();
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(MainQueue::isCurrentThread());
    EXPECT_EQ(queue.sync([&] { return order; }), (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, RunsWorkInOrderOnItsOwnThread) {
    SerialQueue queue("test-queue");
    std::vector<int> seen;
    std::promise<void> done;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            EXPECT_TRUE(queue.isCurrent());
            seen.push_back(i);
        });
    }
    queue.asyncAfter(10ms, [&] { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(2s), std::future_status::ready);
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
}

TEST(RepeatingTimer, TicksUntilCancelledAndNeverAfter) {
    SerialQueue queue("timer-queue");
    std::atomic<int> ticks{0};
    RepeatingTimer timer(queue.executor(), 5ms, [&] { ++ticks; });
    timer.start();
    std::this_thread::sleep_for(100ms);
    timer.cancel();
    const int atCancel = ticks.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_GE(atCancel, 5);
    EXPECT_LE(ticks.load(), atCancel + 1);  // a tick already running when cancel() came
}

}  // namespace
}  // namespace kv

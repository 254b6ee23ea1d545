#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/OnDemandQueue.h"
#include "platform/dispatch/RepeatingTimer.h"
#include "platform/dispatch/SerialQueue.h"

#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(MainQueue, WorkPostedFromOtherThreadsRunsThereInDelayOrder) {
    MainQueue queue;
    std::vector<int> order;
    std::promise<void> done;
    std::thread([&] {
        queue.asyncAfter(60ms, [&] { order.push_back(3), done.set_value(); });
        queue.asyncAfter(20ms, [&] { order.push_back(2); });
        queue.async([&] { order.push_back(MainQueue::isCurrentThread() ? 1 : -1); });
    }).join();
    done.get_future().wait();
    EXPECT_FALSE(MainQueue::isCurrentThread());
    EXPECT_EQ(queue.sync([&] { return order; }), (std::vector<int>{1, 2, 3}));
}

// Work runs in order on the queue's thread, which ends when the work does; a stop waits for the
// work in progress, and work after it is dropped.
TEST(OnDemandQueue, RunsWorkInOrderOnlyWhileThereIsWorkAndNothingAfterItsStop) {
    OnDemandQueue queue("on-demand");
    std::vector<int> seen;
    std::promise<void> done;
    for (int i = 0; i < 50; ++i) queue.async([&, i] { seen.push_back(queue.isCurrent() ? i : -1); });
    queue.async([&] { queue.async([&] { done.set_value(); }); });
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(test::eventually([&] { return !queue.isRunning(); }));
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(seen, expected);

    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> finished = false;
    bool ranAfterStop = false;
    queue.async([&] {
        entered.set_value();
        release.get_future().wait();
        finished = true;
    });
    entered.get_future().wait();
    std::thread releaser([&] { release.set_value(); });
    queue.stop();
    EXPECT_TRUE(finished);
    releaser.join();
    queue.async([&] { ranAfterStop = true; });
    EXPECT_FALSE(ranAfterStop);
    EXPECT_FALSE(queue.isRunning());
}

TEST(RepeatingTimer, TicksUntilCancelledAndNeverAfter) {
    SerialQueue queue("timer-queue");
    int ticks = 0;
    std::promise<void> fifth;
    RepeatingTimer timer(queue.executor(), 5ms, [&] {
        if (++ticks == 5) fifth.set_value();
    });
    timer.start();
    ASSERT_EQ(fifth.get_future().wait_for(5s), std::future_status::ready);
    queue.sync([&] { timer.cancel(); });
    const int atCancel = queue.sync([&] { return ticks; });
    std::promise<int> later;
    queue.asyncAfter(50ms, [&] { later.set_value(ticks); });
    EXPECT_EQ(later.get_future().get(), atCancel);
}

}  // namespace
}  // namespace kv

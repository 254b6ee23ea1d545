#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/RepeatingTimer.h"
#include "platform/dispatch/SerialQueue.h"

#include <gtest/gtest.h>

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

TEST(SerialQueue, RunsWorkInOrderOnItsOwnThread) {
    SerialQueue queue("test-queue");
    std::vector<int> seen;
    for (int i = 0; i < 100; ++i) queue.async([&, i] { seen.push_back(queue.isCurrent() ? i : -1); });
    std::vector<int> expected(100);
    for (int i = 0; i < 100; ++i) expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(queue.sync([&] { return seen; }), expected);
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

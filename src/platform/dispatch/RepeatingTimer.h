#pragma once

#include <boost/asio/any_io_executor.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace kv {

// Calls its handler on the executor every interval, the first time one interval after start.
// Ticks are spaced from the previous deadline, not from the handler's end, so they do not drift.
// Cancelling (or destroying the timer) from any thread guarantees that no handler starts after.
class RepeatingTimer {
public:
    RepeatingTimer(boost::asio::any_io_executor executor, std::chrono::milliseconds interval,
                   std::function<void()> handler);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void start();
    void cancel();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace kv

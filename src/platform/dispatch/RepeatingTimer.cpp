#include "platform/dispatch/RepeatingTimer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>

namespace kv {

struct RepeatingTimer::State : std::enable_shared_from_this<State> {
    State(boost::asio::any_io_executor executor, std::chrono::milliseconds interval,
          std::function<void()> handler)
        : timer(executor), interval(interval), handler(std::move(handler)) {}

    void scheduleFrom(std::chrono::steady_clock::time_point last) {
        timer.expires_at(last + interval);
        timer.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
            if (ec || self->cancelled) return;
            self->handler();
            if (!self->cancelled) self->scheduleFrom(self->timer.expiry());
        });
    }

    boost::asio::steady_timer timer;
    std::chrono::milliseconds interval;
    std::function<void()> handler;
    std::atomic<bool> cancelled{false};
};

RepeatingTimer::RepeatingTimer(boost::asio::any_io_executor executor,
                               std::chrono::milliseconds interval, std::function<void()> handler)
    : state_(std::make_shared<State>(std::move(executor), interval, std::move(handler))) {}

RepeatingTimer::~RepeatingTimer() {
    cancel();
}

void RepeatingTimer::start() {
    state_->cancelled = false;
    boost::asio::post(state_->timer.get_executor(), [state = state_] {
        state->scheduleFrom(std::chrono::steady_clock::now());
    });
}

void RepeatingTimer::cancel() {
    state_->cancelled = true;
    boost::asio::post(state_->timer.get_executor(), [state = state_] { state->timer.cancel(); });
}

}  // namespace kv

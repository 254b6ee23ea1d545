#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace kv {

// Runs work once on the executor after the delay. The timer is created on the executor itself,
// so this is safe to call from any thread.
inline void postDelayed(const boost::asio::any_io_executor& executor,
                        std::chrono::milliseconds delay, std::function<void()> work) {
    boost::asio::post(executor, [executor, delay, work = std::move(work)]() mutable {
        auto timer = std::make_shared<boost::asio::steady_timer>(executor, delay);
        timer->async_wait([timer, work = std::move(work)](const boost::system::error_code& ec) {
            if (!ec) work();
        });
    });
}

}  // namespace kv

#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <thread>

namespace kv {

// The main thread's run loop: every server event, every flow and every "on the main thread"
// step runs here, one at a time.
class MainLoop {
public:
    static MainLoop& shared();

    MainLoop();
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    boost::asio::io_context& context() { return context_; }

    // Safe from any thread.
    void post(std::function<void()> work);
    void postAfter(std::chrono::milliseconds delay, std::function<void()> work);

    // Runs on the calling thread, which becomes the main thread, until stop().
    void run();
    void stop();
    bool isMainThread() const { return std::this_thread::get_id() == mainThread_; }

private:
    boost::asio::io_context context_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_;
    std::thread::id mainThread_;
};

}  // namespace kv

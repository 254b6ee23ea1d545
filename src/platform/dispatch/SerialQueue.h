#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace kv {

// A queue of work run in order on a thread of its own. Work still queued when the queue is
// destroyed is dropped; the work in progress finishes first.
class SerialQueue {
public:
    explicit SerialQueue(std::string name);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work);
    void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work);
    boost::asio::io_context::executor_type executor() { return context_.get_executor(); }
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    boost::asio::io_context context_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_;
    std::thread thread_;
};

}  // namespace kv

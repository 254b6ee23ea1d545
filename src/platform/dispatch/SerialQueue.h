#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace kv {

// A queue of work run in order on a thread of its own, named for tools (at most 15 characters).
// stop() (or destruction) drops what is still queued; the work in progress finishes first.
class SerialQueue {
public:
    explicit SerialQueue(std::string name);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Safe from any thread.
    void async(std::function<void()> work);
    void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work);
    // Runs the work on the queue and waits for its result (at once when already there).
    template <class Work>
    auto sync(Work work) -> decltype(work());
    // Joins the thread; later work is dropped.
    void stop();

    boost::asio::io_context& context() { return context_; }
    boost::asio::io_context::executor_type executor() { return context_.get_executor(); }
    bool isCurrent() const { return std::this_thread::get_id() == threadId_; }

private:
    void runCatching(const std::string& name);

    boost::asio::io_context context_{1};  // one thread runs it: Asio skips the locking several would need
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_;
    std::thread thread_;
    std::thread::id threadId_;
};

template <class Work>
auto SerialQueue::sync(Work work) -> decltype(work()) {
    if (isCurrent()) return work();
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    boost::asio::post(context_, [&task] { task(); });
    return result.get();
}

}  // namespace kv

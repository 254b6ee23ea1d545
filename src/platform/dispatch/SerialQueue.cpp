#include "platform/dispatch/SerialQueue.h"

#include "platform/dispatch/DelayedWork.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

namespace kv {

SerialQueue::SerialQueue(std::string name)
    : keepAlive_(boost::asio::make_work_guard(context_)),
      thread_([this, name = std::move(name)] {
          pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
          runCatching(name);
      }),
      threadId_(thread_.get_id()) {}

// A task that throws is dropped, not the thread: the queue goes on with the next one.
void SerialQueue::runCatching(const std::string& name) {
    while (true) {
        try {
            context_.run();
            return;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "[%s] a task failed: %s\n", name.c_str(), error.what());
        }
    }
}

SerialQueue::~SerialQueue() {
    stop();
}

void SerialQueue::stop() {
    if (!thread_.joinable()) return;
    keepAlive_.reset();
    context_.stop();
    thread_.join();
}

void SerialQueue::async(std::function<void()> work) {
    boost::asio::post(context_, std::move(work));
}

void SerialQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    postDelayed(context_.get_executor(), delay, std::move(work));
}

}  // namespace kv

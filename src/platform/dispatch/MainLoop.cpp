#include "platform/dispatch/MainLoop.h"

#include "platform/dispatch/DelayedWork.h"

#include <boost/asio/post.hpp>

namespace kv {

MainLoop& MainLoop::shared() {
    static MainLoop loop;
    return loop;
}

// One thread runs the loop: tell Asio, which then skips the locking that several would need.
MainLoop::MainLoop() : context_(1), keepAlive_(boost::asio::make_work_guard(context_)) {}

void MainLoop::post(std::function<void()> work) {
    boost::asio::post(context_, std::move(work));
}

void MainLoop::postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    postDelayed(context_.get_executor(), delay, std::move(work));
}

void MainLoop::run() {
    mainThread_ = std::this_thread::get_id();
    context_.restart();
    context_.run();
}

void MainLoop::stop() {
    context_.stop();
}

}  // namespace kv

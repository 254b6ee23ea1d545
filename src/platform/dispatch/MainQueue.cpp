#include "platform/dispatch/MainQueue.h"

namespace kv {

namespace {
thread_local bool onMainQueue = false;
}  // namespace

MainQueue::MainQueue() : SerialQueue("Main") {
    sync([] { onMainQueue = true; });
}

bool MainQueue::isCurrentThread() {
    return onMainQueue;
}

}  // namespace kv

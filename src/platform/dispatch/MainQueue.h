#pragma once

#include "platform/dispatch/SerialQueue.h"

#include <cassert>

namespace kv {

// The service's main queue, the "main thread" of its design: every flow, in the order requests
// arrive, the device check, the timers and the session state run here, one at a time. The
// network runs on a thread of its own, so a flow that blocks here stops no I/O.
class MainQueue : public SerialQueue {
public:
    MainQueue();
    // Whether the calling thread is the main queue's (of whichever service runs).
    static bool isCurrentThread();
};

// Checks, in builds with assertions, that a method meant for the main queue runs there.
#define KV_ASSERT_MAIN_QUEUE() assert(::kv::MainQueue::isCurrentThread() && "runs on the main queue")

}  // namespace kv

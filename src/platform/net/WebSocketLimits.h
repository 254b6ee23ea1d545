#pragma once

#include "platform/net/OutgoingBudget.h"

#include <chrono>
#include <cstddef>
#include <memory>

namespace kv {

// What one connection may cost the service.
struct WebSocketLimits {
    std::size_t maxMessageBytes = 16 * 1024 * 1024;
    // Unsent answers and pushes of one connection; past it the connection is dropped at once.
    std::size_t maxQueuedBytes = 64 * 1024 * 1024;
    // A write that makes no progress for this long drops its connection: its peer stopped reading.
    std::chrono::milliseconds writeTimeout{30'000};
    // Shared by every connection of the service; past it the connection that would pass it is
    // dropped.
    std::shared_ptr<OutgoingBudget> budget = std::make_shared<OutgoingBudget>(std::size_t{128} * 1024 * 1024);
};

}  // namespace kv

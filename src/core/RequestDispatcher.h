#pragma once

#include "core/FlowTable.h"
#include "platform/net/WebSocketMessage.h"

#include <memory>
#include <optional>
#include <string>

namespace kv {

class WebSocketConnection;

// The receive path: request envelope → flow → response envelope, on the main thread.
class RequestDispatcher {
public:
    explicit RequestDispatcher(const FlowTable& table) : table_(table) {}

    // Answers on the connection: a response envelope, an error text, or nothing.
    void receive(const std::shared_ptr<WebSocketConnection>& connection,
                 const WebSocketMessage& message);

private:
    const FlowTable& table_;
};

}  // namespace kv

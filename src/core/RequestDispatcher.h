#pragma once

#include "core/FlowTable.h"
#include "platform/net/WebSocketMessage.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kv {

class WebSocketConnection;

// The receive path: request envelope → flow → response envelope, on the main queue. Requests are
// handled one at a time in arrival order, the next once the one before has answered; a flow that
// waits (for a start date, for the play to stop) answers later and leaves the main queue free
// meanwhile.
class RequestDispatcher {
public:
    explicit RequestDispatcher(const FlowTable& table) : table_(table) {}

    // Answers on the connection, now or once the requests before have answered: a response
    // envelope, an error text, or nothing. `answered` runs once it has.
    void receive(const std::shared_ptr<WebSocketConnection>& connection, WebSocketMessage message,
                 std::function<void()> answered = {});
    // Answers nothing more: what waits is dropped (the service is ending).
    void close();

private:
    struct Received {
        std::shared_ptr<WebSocketConnection> connection;
        WebSocketMessage message;
        std::function<void()> answered;
    };
    struct Pending;

    void handleNext();
    void start(Received received);
    void respond(const Received& received, const BaseRequestJSONObject& request, nlohmann::json result);

    const FlowTable& table_;
    std::deque<Received> waiting_;
    bool busy_ = false;  // a flow has not answered yet
    bool closed_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // answers that come after close() go nowhere
};

}  // namespace kv

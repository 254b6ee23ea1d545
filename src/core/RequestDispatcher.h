#pragma once

#include "core/FlowTable.h"
#include "core/KeyvoraFlow.h"
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
    // The session learns which connection asked last, and the web application's version.
    RequestDispatcher(const FlowTable& table, KeyvoraFlow& session) : table_(table), session_(session) {}

    // Answers on the connection, now or once the requests before have answered: a response
    // envelope, an error text, or nothing. `answered` runs once it has.
    void receive(const std::shared_ptr<WebSocketConnection>& connection, WebSocketMessage message,
                 std::function<void()> answered = {});
    // A connection closed: the session's token goes with it.
    void connectionClosed();
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
    KeyvoraFlow& session_;
    std::deque<Received> waiting_;
    bool busy_ = false;  // a flow has not answered yet
    bool closed_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // answers that come after close() go nowhere
};

}  // namespace kv

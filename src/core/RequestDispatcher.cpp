#include "core/RequestDispatcher.h"

#include "base/Log.h"
#include "core/BaseResponseJSONObject.h"
#include "platform/net/WebSocketConnection.h"

#include <stdexcept>
#include <utility>

namespace kv {

namespace {

constexpr const char* kSocketSessionID = "id of socket";
// What the browser is told of a failure that escaped a flow; the cause goes to the log only.
constexpr const char* kFlowFailure = "ERROR OCCURED WHEN PROCESSING";

// A message that is not a request envelope is answered with why, as a bare text. Only the
// service's own reasons are sent: what a library throws stays in the log.
std::optional<BaseRequestJSONObject> readRequest(const std::shared_ptr<WebSocketConnection>& connection,
                                                 const WebSocketMessage& message) {
    std::string refusal;
    try {
        if (message.isText) return parseRequest(message.payload);
        refusal = "Message is not text";
    } catch (const std::invalid_argument& error) {
        refusal = error.what();
    } catch (const std::runtime_error& error) {
        refusal = error.what();
    } catch (const std::exception& error) {
        logText(kLogError, error.what());
        refusal = "The request could not be read";
    }
    logText(kLogError, refusal);
    connection->send(refusal);
    return std::nullopt;
}

nlohmann::json failure(const BaseRequestJSONObject& request, const std::exception& error) {
    logText(kLogError, "method " + std::to_string(request.methodName) + ": " + error.what());
    return {{"code", -1}, {"message", kFlowFailure}};
}

}  // namespace

struct RequestDispatcher::Pending {
    Received received;
    BaseRequestJSONObject request;
    bool starting = true;  // the flow has not returned yet
    bool done = false;
};

void RequestDispatcher::receive(const std::shared_ptr<WebSocketConnection>& connection, WebSocketMessage message,
                                std::function<void()> answered) {
    if (closed_) return;
    waiting_.push_back({connection, std::move(message), std::move(answered)});
    if (!busy_) handleNext();
}

void RequestDispatcher::connectionClosed() {
    session_.token.set("");
}

void RequestDispatcher::close() {
    closed_ = true;
    *alive_ = false;
    waiting_.clear();
}

void RequestDispatcher::handleNext() {
    while (!waiting_.empty() && !busy_) {
        Received received = std::move(waiting_.front());
        waiting_.pop_front();
        start(std::move(received));
    }
}

void RequestDispatcher::start(Received received) {
    const auto request = readRequest(received.connection, received.message);
    if (request) session_.webVersion.set(request->version.value_or(""));
    auto flow = request ? table_.getBaseFlow(request->methodName) : nullptr;
    if (!flow) {
        if (received.answered) received.answered();
        return;
    }
    session_.currentConnection.set(received.connection);
    busy_ = true;
    auto pending = std::make_shared<Pending>(Pending{std::move(received), *request});
    const BaseFlow::Answer answer = [this, alive = alive_, pending](nlohmann::json result) {
        if (!*alive || std::exchange(pending->done, true)) return;
        respond(pending->received, pending->request, std::move(result));
        if (pending->received.answered) pending->received.answered();
        busy_ = false;
        if (!pending->starting) handleNext();
    };
    try {
        flow->processData(request->data.value_or(nlohmann::json::object()), kSocketSessionID, *request, answer);
    } catch (const std::exception& error) {
        answer(failure(*request, error));
    }
    pending->starting = false;
}

// A flow that answers nothing sends an envelope without `data`.
void RequestDispatcher::respond(const Received& received, const BaseRequestJSONObject& request, nlohmann::json result) {
    std::optional<nlohmann::json> data;
    if (!result.is_null()) data = std::move(result);
    const std::string text = composeResponseMessage(std::move(data), 0, "SUCCESS", request, session_).toJSONString();
    if (text.empty()) {
        logText(kLogError, "Can not parse data to JSON String");
        return;
    }
    received.connection->send(text);
}

}  // namespace kv

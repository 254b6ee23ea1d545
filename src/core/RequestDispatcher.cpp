#include "core/RequestDispatcher.h"

#include "base/Log.h"
#include "core/BaseResponseJSONObject.h"
#include "core/KeyvoraFlow.h"
#include "platform/net/WebSocketConnection.h"

#include <stdexcept>

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

nlohmann::json run(BaseFlow& flow, const BaseRequestJSONObject& request) {
    try {
        return flow.processData(request.data.value_or(nlohmann::json::object()), kSocketSessionID, request);
    } catch (const std::exception& error) {
        logText(kLogError, "method " + std::to_string(request.methodName) + ": " + error.what());
        return {{"code", -1}, {"message", kFlowFailure}};
    }
}

}  // namespace

void RequestDispatcher::receive(const std::shared_ptr<WebSocketConnection>& connection,
                                const WebSocketMessage& message) {
    const auto request = readRequest(connection, message);
    if (!request) return;
    auto flow = table_.getBaseFlow(request->methodName);
    if (!flow) return;
    KeyvoraFlow::shared().currentConnection.set(connection);
    auto result = run(*flow, *request);
    // A flow that answers nothing sends an envelope without `data`.
    std::optional<nlohmann::json> data;
    if (!result.is_null()) data = std::move(result);
    const std::string text = composeResponseMessage(std::move(data), 0, "SUCCESS", *request).toJSONString();
    if (text.empty()) {
        logText(kLogError, "Can not parse data to JSON String");
        return;
    }
    connection->send(text);
}

}  // namespace kv

#include "core/RequestDispatcher.h"

#include "app/Log.h"
#include "core/BaseResponseJSONObject.h"
#include "core/KeyvoraFlow.h"
#include "platform/net/WebSocketConnection.h"

#include <stdexcept>

namespace kv {

namespace {
constexpr const char* kSocketSessionID = "id of socket";
}  // namespace

void RequestDispatcher::receive(const std::shared_ptr<WebSocketConnection>& connection,
                                const WebSocketMessage& message) {
    try {
        if (!message.isText) throw std::invalid_argument("Message is not text");
        const BaseRequestJSONObject request = parseRequest(message.payload);
        auto flow = table_.getBaseFlow(request.methodName);
        if (!flow) return;
        KeyvoraFlow::shared().currentConnection.set(connection);
        const nlohmann::json requestData = request.data.value_or(nlohmann::json::object());
        auto result = flow->processData(requestData, kSocketSessionID, request);
        const std::string text =
            composeResponseMessage(std::move(result), 0, "SUCCESS", request).toJSONString();
        if (text.empty()) {
            logText(kLogError, "Can not parse data to JSON String");
            return;
        }
        connection->send(text);
    } catch (const std::exception& error) {
        logText(kLogError, error.what());
        connection->send(error.what());
    }
}

}  // namespace kv

#include "flows/session/SaveTokenFlow.h"

#include "base/JsonReading.h"
#include "core/KeyvoraFlow.h"

namespace kv {

nlohmann::json SaveTokenFlow::processData(const nlohmann::json& requestData, const std::string&,
                                          const BaseRequestJSONObject&) {
    const std::string newToken = json_reading::readString(requestData, "token").value_or("");
    auto& session = KeyvoraFlow::shared();
    const std::string held = session.token.get();
    if (held.empty() || held == newToken) {
        session.token.set(newToken);
        return {{"message", "SUCCESS"}, {"code", 0}};
    }
    return {{"message", "Plugin just hold 1 connection as same time"}, {"code", -1}};
}

}  // namespace kv

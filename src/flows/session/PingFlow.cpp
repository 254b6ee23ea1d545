#include "flows/session/PingFlow.h"

#include "core/Version.h"

namespace kv {

nlohmann::json PingFlow::processData(const nlohmann::json&, const std::string&,
                                     const BaseRequestJSONObject&) {
    return {{"pluginVersion", getVersion()}};
}

}  // namespace kv

#include "flows/session/KeepAliveFlow.h"

namespace kv {

nlohmann::json KeepAliveFlow::processData(const nlohmann::json&, const std::string&,
                                          const BaseRequestJSONObject&) {
    return {{"message", "SUCCESS"}, {"code", 0}};
}

}  // namespace kv

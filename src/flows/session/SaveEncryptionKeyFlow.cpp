#include "flows/session/SaveEncryptionKeyFlow.h"

namespace kv {

nlohmann::json SaveEncryptionKeyFlow::processData(const nlohmann::json&, const std::string&,
                                                  const BaseRequestJSONObject&) {
    return nlohmann::json::object();
}

}  // namespace kv

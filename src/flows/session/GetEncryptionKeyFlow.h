#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 22: the key record the web application enciphers its own data with.
class GetEncryptionKeyFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

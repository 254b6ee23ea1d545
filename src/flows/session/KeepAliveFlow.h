#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 31: answers success; the service keeps no keep-alive timer of its own.
class KeepAliveFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

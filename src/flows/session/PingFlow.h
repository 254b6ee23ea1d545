#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 1: answers the service's version.
class PingFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

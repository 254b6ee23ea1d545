#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 7: the current device and how many are listed.
class GetCurrentDeviceFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

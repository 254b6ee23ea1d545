#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 28: ends key recording.
class StopSettingDeviceFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

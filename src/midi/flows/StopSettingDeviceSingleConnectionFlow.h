#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 54: ends key pushing.
class StopSettingDeviceSingleConnectionFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

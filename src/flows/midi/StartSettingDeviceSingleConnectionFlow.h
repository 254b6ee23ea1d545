#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 53: key presses are pushed to the browser.
class StartSettingDeviceSingleConnectionFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

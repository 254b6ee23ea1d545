#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 4: makes `deviceName` the current device, marks it last used and connects it.
class UserSelectDeviceFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

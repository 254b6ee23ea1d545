#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 3: the device list, current device first, as built at the last change of ports.
class GetListDevicesFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

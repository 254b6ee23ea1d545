#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 58: every volume setting.
class GetAllSettingVolumeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

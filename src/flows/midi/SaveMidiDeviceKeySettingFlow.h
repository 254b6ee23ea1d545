#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 14: stores the current keyboard's lowest and highest key.
class SaveMidiDeviceKeySettingFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

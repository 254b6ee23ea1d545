#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 23: stores the user's virtual-piano switch and volume.
class UpdateMidiSettingFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

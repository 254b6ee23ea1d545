#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 27: key presses are kept for GetMidiNoteSettingDeviceFlow.
class StartSettingDeviceFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 29: the key recorded last, once.
class GetMidiNoteSettingDeviceFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

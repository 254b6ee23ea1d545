#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 57: the instrument volume, stored and reported.
class SaveInstrumentVolumeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

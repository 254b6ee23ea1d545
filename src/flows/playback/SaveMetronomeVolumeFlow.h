#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 56: the metronome's volume, applied at once.
class SaveMetronomeVolumeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

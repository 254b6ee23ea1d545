#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 59: the count-off's volume, from its next tick.
class SaveCountOffVolumeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

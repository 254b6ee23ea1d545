#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 60: lights exactly the keys of `leds` ({"note", "staff"} objects); every other key goes dark.
class SetLedFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

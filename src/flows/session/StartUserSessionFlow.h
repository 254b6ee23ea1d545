#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 2: makes the envelope's user current (creating the record on first sight) and answers
// the user's virtual-piano settings and the selected keyboard.
class StartUserSessionFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

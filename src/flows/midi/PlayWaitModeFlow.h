#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 46: wait mode: every key is pushed (or kept, for the older web application).
class PlayWaitModeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

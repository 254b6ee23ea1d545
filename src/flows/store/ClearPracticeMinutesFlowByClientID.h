#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 52: answers {} and deletes nothing.
class ClearPracticeMinutesFlowByClientID : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

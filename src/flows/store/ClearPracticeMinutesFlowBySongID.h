#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 51: deletes the user's segments of a song: at one tempo, or at every tempo for the
// older web application.
class ClearPracticeMinutesFlowBySongID : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

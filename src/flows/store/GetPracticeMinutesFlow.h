#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 49: purges segments older than three days (of every user), then answers the user's
// segments of one song.
class GetPracticeMinutesFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

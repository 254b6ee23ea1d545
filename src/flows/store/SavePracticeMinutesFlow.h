#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 50: keeps one practice segment as the browser sent it.
class SavePracticeMinutesFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

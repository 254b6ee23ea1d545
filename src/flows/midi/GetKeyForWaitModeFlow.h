#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 48: the keys kept in wait mode, once.
class GetKeyForWaitModeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

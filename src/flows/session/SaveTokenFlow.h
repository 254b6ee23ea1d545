#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 45: one client at a time. The first token holds the service until a connection closes.
class SaveTokenFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 21: accepted and ignored; the web application keeps its key itself.
class SaveEncryptionKeyFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

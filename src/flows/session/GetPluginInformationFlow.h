#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 17: the installation's permanent id, made on first demand, and the service's version.
class GetPluginInformationFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 54: ends key pushing.
class StopSettingDeviceSingleConnectionFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) override {
        return nullptr;
    }
    void processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                     const BaseRequestJSONObject& request, Answer answer) override;
};

}  // namespace kv

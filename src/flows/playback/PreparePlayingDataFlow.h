#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 9: prepares the song the next plays will play.
class PreparePlayingDataFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) override {
        return nullptr;
    }
    void processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                     const BaseRequestJSONObject& request, Answer answer) override;
};

}  // namespace kv

#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 15: the playback latency, once a song has started (waits up to 11 s for it).
class GetLatencyFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) override {
        return nullptr;
    }
    void processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                     const BaseRequestJSONObject& request, Answer answer) override;
};

}  // namespace kv

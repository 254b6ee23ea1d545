#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 12: plays the prepared song from a wall-clock start; answers at that start.
class PlayMidiSongFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) override {
        return nullptr;
    }
    void processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                     const BaseRequestJSONObject& request, Answer answer) override;
};

}  // namespace kv

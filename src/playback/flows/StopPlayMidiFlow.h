#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 10: ends the play and answers the keys the student played.
class StopPlayMidiFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 55: the accompaniment's volume, and each channel's and backing track's.
class SaveAccompanimentVolumeFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 20: an exercise's cached score in one language, with its stamp.
class CheckXMLCacheFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

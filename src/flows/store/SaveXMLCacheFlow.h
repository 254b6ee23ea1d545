#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 19: keeps an exercise's score in one language, enciphered.
class SaveXMLCacheFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv

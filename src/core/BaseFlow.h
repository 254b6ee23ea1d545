#pragma once

#include "core/BaseRequestJSONObject.h"

#include <nlohmann/json.hpp>

#include <string>

namespace kv {

// A request handler, created afresh for each request; its result becomes the response's data.
class BaseFlow {
public:
    virtual ~BaseFlow() = default;
    virtual nlohmann::json processData(const nlohmann::json& requestData,
                                       const std::string& socketSessionID,
                                       const BaseRequestJSONObject& request) = 0;
};

}  // namespace kv

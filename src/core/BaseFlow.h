#pragma once

#include "core/BaseRequestJSONObject.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace kv {

// A request handler, created afresh for each request; its result becomes the response's data.
class BaseFlow {
public:
    // Takes the result on the main queue, once.
    using Answer = std::function<void(nlohmann::json result)>;

    virtual ~BaseFlow() = default;
    // The result, at once.
    virtual nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                                       const BaseRequestJSONObject& request) = 0;
    // A flow that must wait (for a start date, for the play to stop) answers later instead, without
    // holding the main queue meanwhile; the others answer at once.
    virtual void processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                             const BaseRequestJSONObject& request, Answer answer) {
        answer(processData(requestData, socketSessionID, request));
    }
};

}  // namespace kv

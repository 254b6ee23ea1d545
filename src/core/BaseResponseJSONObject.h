#pragma once

#include "core/BaseRequestJSONObject.h"
#include "core/KeyvoraFlow.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kv {

// The response envelope of every answer and push. Fields without a value are left out of the text.
struct BaseResponseJSONObject {
    std::optional<std::string> clientID;
    std::optional<std::string> clientSecret;
    std::int32_t methodName = 0;
    std::optional<std::string> token;
    bool isStudentMode = false;
    std::optional<std::string> installationId;
    std::optional<std::string> expiredDate;
    std::optional<std::string> encoding;
    std::optional<std::string> requestDate;
    std::int32_t responseCode = 0;
    std::optional<std::string> responseDate;
    std::optional<std::string> localRequestDate;
    std::int32_t timezoneOffset = 0;
    bool noEncryption = false;
    std::optional<std::string> functionId;
    std::optional<nlohmann::json> data;
    std::optional<std::string> errorMessage;

    // Text that is not valid UTF-8 is written with U+FFFD in its place (see toJSONText).
    std::string toJSONString() const;
};

// Fills a response for the request; for methodName 9 composed while the session plays a song,
// code 7.
BaseResponseJSONObject composeResponseMessage(std::optional<nlohmann::json> data,
                                              std::int32_t responseCode, std::string message,
                                              const BaseRequestJSONObject& request, const KeyvoraFlow& session);

}  // namespace kv

#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// The request envelope. Absent keys stay absent; numbers and flags read by the reading rules.
struct BaseRequestJSONObject {
    std::optional<std::string> clientID;
    std::optional<std::string> clientSecret;
    std::int32_t methodName = 0;
    std::optional<std::string> token;
    bool isStudentMode = false;
    std::optional<std::string> installationId;
    std::optional<std::string> expiredDate;
    std::optional<std::string> encoding;
    std::optional<std::string> requestDate;
    std::optional<std::string> localRequestDate;
    std::int32_t timezoneOffset = 0;
    bool noEncryption = false;
    std::optional<std::string> lang;
    std::optional<std::string> functionId;
    std::optional<nlohmann::json> data;
    std::optional<std::string> version;  // the web application's

    // Throws std::invalid_argument when `data` is present but not an object.
    static BaseRequestJSONObject fromDictionary(const nlohmann::json& dictionary);
};

// Parses a request text. Text that is not JSON gives an empty request (methodName 0); JSON that
// is not an object, or nested too deep, throws.
BaseRequestJSONObject parseRequest(std::string_view text);

}  // namespace kv

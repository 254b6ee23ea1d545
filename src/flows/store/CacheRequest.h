#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace kv {

struct BaseRequestJSONObject;

// A song or exercise id of a cache request, in the one text form that names both its file and
// its record: the decimal digits of a 32-bit integer, given as a JSON number or a string ("42",
// 42 and "042" are one song). Anything else is no id: it names no file and touches no record.
std::optional<std::string> cacheIdText(const nlohmann::json& data, const char* key);

// The exercise id and language of a score request; nothing, with the answer that refuses it in
// `refusal`, for a missing or malformed id or a language that cannot be part of a file name.
struct ScoreRequest {
    std::string exerciseId;
    std::string lang;
};
std::optional<ScoreRequest> readScoreRequest(const nlohmann::json& data, const BaseRequestJSONObject& request,
                                             nlohmann::json& refusal);

}  // namespace kv

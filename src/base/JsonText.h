#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>

namespace kv {

// Deeper JSON is refused: it is no request of the web application, and deep values cost stack
// in every later walk over them.
inline constexpr int kMaxJsonDepth = 64;

// The parsed value, or nothing when the text is not valid JSON. Throws std::runtime_error for
// JSON nested deeper than kMaxJsonDepth.
std::optional<nlohmann::json> JSONStringToDictionary(std::string_view text);

// The JSON text of a value, compact. Text that is not valid UTF-8 (a device's name, a header of a
// server) is written with U+FFFD in place of its bad bytes instead of failing the whole text.
std::string toJSONText(const nlohmann::json& value);

}  // namespace kv

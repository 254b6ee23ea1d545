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

}  // namespace kv

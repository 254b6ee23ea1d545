#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The reading rules of request fields, shared by every flow. A key that is absent (or null)
// reads as absent; the caller chooses the default.
namespace kv::json_reading {

// Integer of a number (a fraction truncated toward zero) or of a string's leading decimal digits
// after blanks and an optional sign; a string without digits reads 0. Saturates at the int32 range.
std::int32_t toInt32(const nlohmann::json& value);
std::int64_t toInt64(const nlohmann::json& value);
// True for a non-zero number, true, or a string that after blanks, an optional sign and leading
// zeros begins with Y, y, T, t or a digit 1 to 9.
bool toBool(const nlohmann::json& value);

// A number as it is, a flag as 0 or 1, a string's leading decimal number; anything else, and a
// value that is not finite, reads 0.
double toDouble(const nlohmann::json& value);

std::optional<std::int32_t> readInt32(const nlohmann::json& object, std::string_view key);
std::optional<double> readDouble(const nlohmann::json& object, std::string_view key);
std::optional<bool> readBool(const nlohmann::json& object, std::string_view key);
// A string as it is; a number as its JSON text; any other type reads as absent.
std::optional<std::string> readString(const nlohmann::json& object, std::string_view key);
// An object as it is; absent or null reads as absent; any other type throws.
std::optional<nlohmann::json> readObject(const nlohmann::json& object, std::string_view key);

}  // namespace kv::json_reading

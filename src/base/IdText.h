#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Ids that requests carry (users, songs, exercises) become record keys, query values and file
// names. These checks are plain loops: a pattern matcher that recurses per character would let a
// long id overflow the stack.
namespace kv {

// Longer ids are refused before any query or path is built from them.
inline constexpr std::size_t kMaxIdBytes = 64;

// An optional sign, then decimal digits, with an optional fraction: "42", "-3", "97.5".
bool isNumericLiteral(std::string_view text);
// An optional sign and decimal digits whose value fits 32 bits; nothing for any other text.
std::optional<std::int32_t> int32FromIdText(std::string_view text);

}  // namespace kv

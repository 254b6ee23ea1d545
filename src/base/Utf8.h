#pragma once

#include <string>
#include <string_view>

namespace kv {

// The text with every byte sequence that is not valid UTF-8 replaced by U+FFFD: names that come
// from devices and files can be stored and sent as JSON.
std::string validUtf8(std::string_view text);

}  // namespace kv

#pragma once

#include <string_view>

namespace kv {

// Ids and languages from requests become parts of file names. This is the one check that they
// cannot leave their folder: not empty, at most 64 bytes (kMaxIdBytes), no "/", "\", NUL or control character,
// and neither "." nor "..".
bool isSafePathComponent(std::string_view component);

}  // namespace kv

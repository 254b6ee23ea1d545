#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kv {

// Standard Base64 as a browser sends it: characters outside the alphabet (line breaks, blanks)
// are skipped and decoding stops at the first "=". A last group of a single character carries
// no whole byte and is dropped.
std::vector<std::uint8_t> decodeBase64(std::string_view text);

}  // namespace kv

#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kv {

// SHA-256 as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::span<const std::uint8_t> data);

}  // namespace kv

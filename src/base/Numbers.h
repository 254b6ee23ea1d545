#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace kv {

// A number from a request or a product of one, as a 32-bit integer: truncated toward zero and
// held within the range (not a number reads 0), where a plain conversion would be undefined.
inline std::int32_t saturatedInt32(double value) {
    constexpr double low = std::numeric_limits<std::int32_t>::min();
    constexpr double high = std::numeric_limits<std::int32_t>::max();
    if (std::isnan(value)) return 0;
    if (value <= low) return std::numeric_limits<std::int32_t>::min();
    if (value >= high) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

inline std::int32_t saturatedInt32(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

// The same for 64 bits: counts computed in floating point from untrusted input.
inline std::int64_t saturatedInt64(double value) {
    constexpr double low = -9223372036854775808.0;  // -2^63, exact
    constexpr double high = 9223372036854775808.0;  // 2^63, one past the largest
    if (std::isnan(value)) return 0;
    if (value <= low) return std::numeric_limits<std::int64_t>::min();
    if (value >= high) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value);
}

}  // namespace kv

#pragma once

#include <algorithm>
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

// Nanoseconds of a span in milliseconds computed from a request (a tempo of 1e-300, a spacing of
// 1e300): at least 0 and at most about 30 years, where a plain conversion would be undefined.
inline std::uint64_t nanosFromMillis(double milliseconds) {
    constexpr double most = 1e12;  // ms
    if (!(milliseconds > 0)) return 0;
    return static_cast<std::uint64_t>(std::min(milliseconds, most) * 1e6);
}

}  // namespace kv

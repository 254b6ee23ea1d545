#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

using Date = std::chrono::system_clock::time_point;

// Now, local time, "yyyy-MM-dd'T'HH:mm:ss".
std::string currentDate();
// Now, local time, "yyyy-MM-dd HH:mm:ss".
std::string toString();
// The date in UTC, "yyyy-MM-dd'T'HH:mm:ss": what toDate reads back.
std::string utcText(Date date);
// A UTC timestamp, 23 characters read as "yyyy-MM-dd'T'HH:mm:ss.SSS", any other length as
// "yyyy-MM-dd'T'HH:mm:ss", as milliseconds since 1970 (negative before): every year from 0000 to
// 9999 has one. Nothing when the text does not match.
std::optional<std::int64_t> toEpochMillis(std::string_view text);
// The same as a date; nothing also for a time a date cannot hold (before 1678, after 2261).
std::optional<Date> toDate(std::string_view text);
std::uint64_t currentTimeSeconds(Date date);
std::uint64_t currentTimeMillis(Date date);

}  // namespace kv

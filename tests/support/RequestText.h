#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Values as the web application writes them into requests.
namespace kv::test {

// Standard Base64 with padding, as a browser's btoa gives it.
std::string base64(const std::vector<std::uint8_t>& bytes);
// "yyyy-MM-dd'T'HH:mm:ss.SSS" in UTC: the wall-clock instant `millis` after the epoch.
std::string utcText(std::uint64_t millis);
// The same for the given time from now.
std::string utcTextIn(std::chrono::milliseconds ahead);

}  // namespace kv::test

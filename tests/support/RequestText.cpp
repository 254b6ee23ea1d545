#include "support/RequestText.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace kv::test {

std::string base64(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (left > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (left > 2) group |= bytes[i + 2];
        for (std::size_t part = 0; part < 4; ++part) text += part <= left ? kAlphabet[group >> (18 - 6 * part) & 0x3F] : '=';
    }
    return text;
}

std::string utcText(std::uint64_t millis) {
    const auto seconds = static_cast<std::time_t>(millis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char full[40];
    std::snprintf(full, sizeof full, "%s.%03d", text, static_cast<int>(millis % 1000));
    return full;
}

std::string utcTextIn(std::chrono::milliseconds ahead) {
    const auto at = std::chrono::system_clock::now() + ahead;
    return utcText(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count()));
}

}  // namespace kv::test

#include "base/IdText.h"

#include <charconv>

namespace kv {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits from `at` on; answers where they end.
std::size_t skipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at])) ++at;
    return at;
}

std::size_t afterSign(std::string_view text) {
    return !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
}

}  // namespace

bool isNumericLiteral(std::string_view text) {
    if (text.size() > kMaxIdBytes) return false;
    const std::size_t start = afterSign(text);
    std::size_t end = skipDigits(text, start);
    if (end == start) return false;
    if (end < text.size() && text[end] == '.') {
        const std::size_t fraction = end + 1;
        end = skipDigits(text, fraction);
        if (end == fraction) return false;
    }
    return end == text.size();
}

std::optional<std::int32_t> int32FromIdText(std::string_view text) {
    if (text.size() > kMaxIdBytes) return std::nullopt;
    const std::size_t start = afterSign(text);
    if (start == text.size() || skipDigits(text, start) != text.size()) return std::nullopt;
    // from_chars takes a minus sign but no plus sign.
    const std::string_view number = text[0] == '+' ? text.substr(1) : text;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value;
}

}  // namespace kv

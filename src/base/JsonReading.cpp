#include "base/JsonReading.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace kv::json_reading {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::int64_t saturate(long double value) {
    constexpr auto low = static_cast<long double>(std::numeric_limits<std::int64_t>::min());
    constexpr auto high = static_cast<long double>(std::numeric_limits<std::int64_t>::max());
    if (std::isnan(value)) return 0;
    if (value <= low) return std::numeric_limits<std::int64_t>::min();
    if (value >= high) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value);
}

std::int64_t leadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long double magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), 1e30L);
    }
    return saturate(negative ? -magnitude : magnitude);
}

const nlohmann::json* find(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace

std::int64_t toInt64(const nlohmann::json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            return saturate(static_cast<long double>(value.get<std::uint64_t>()));
        }
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) return saturate(std::trunc(value.get<double>()));
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_string()) return leadingInteger(value.get_ref<const std::string&>());
    return 0;
}

std::int32_t toInt32(const nlohmann::json& value) {
    const std::int64_t wide = toInt64(value);
    constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(wide, low, high));
}

double toDouble(const nlohmann::json& value) {
    double number = 0;
    if (value.is_number()) number = value.get<double>();
    if (value.is_boolean()) number = value.get<bool>() ? 1 : 0;
    if (value.is_string()) number = std::strtod(value.get_ref<const std::string&>().c_str(), nullptr);
    return std::isfinite(number) ? number : 0;
}

bool toBool(const nlohmann::json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number_float()) return value.get<double>() != 0.0;
    if (value.is_number()) return toInt64(value) != 0;
    if (!value.is_string()) return false;
    const auto& text = value.get_ref<const std::string&>();
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::optional<std::int32_t> readInt32(const nlohmann::json& object, std::string_view key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    return toInt32(*value);
}

std::optional<double> readDouble(const nlohmann::json& object, std::string_view key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    return toDouble(*value);
}

std::optional<bool> readBool(const nlohmann::json& object, std::string_view key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    return toBool(*value);
}

std::optional<std::string> readString(const nlohmann::json& object, std::string_view key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (value->is_string()) return value->get<std::string>();
    if (value->is_number()) return value->dump();
    return std::nullopt;
}

std::optional<nlohmann::json> readObject(const nlohmann::json& object, std::string_view key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_object()) {
        throw std::invalid_argument("\"" + std::string(key) + "\" is not a JSON object");
    }
    return *value;
}

}  // namespace kv::json_reading

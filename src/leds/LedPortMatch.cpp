#include "leds/LedPortMatch.h"

#include "app/TextFormat.h"

#include <cctype>

namespace kv {

namespace {

constexpr std::size_t kMinPrefix = 4;

std::size_t commonPrefixIgnoringCase(const std::string& a, const std::string& b) {
    std::size_t length = 0;
    while (length < a.size() && length < b.size() &&
           std::tolower(static_cast<unsigned char>(a[length])) ==
               std::tolower(static_cast<unsigned char>(b[length]))) {
        ++length;
    }
    return length;
}

}  // namespace

std::optional<LedPortMatch> matchLedPort(const std::vector<MidiPortInfo>& ports,
                                         const std::string& rawName) {
    std::optional<unsigned> exact;
    std::optional<unsigned> contained;
    std::optional<unsigned> prefix;
    std::size_t bestPrefix = 0;
    for (const auto& port : ports) {
        const std::string& name = port.name;
        if (name == rawName) {
            exact = port.index;
        } else if (!contained && !name.empty() &&
                   (name.find(rawName) != std::string::npos || rawName.find(name) != std::string::npos)) {
            contained = port.index;
        }
        const std::size_t length = commonPrefixIgnoringCase(name, rawName);
        if (length >= kMinPrefix && length > bestPrefix) {
            bestPrefix = length;
            prefix = port.index;
        }
    }
    if (exact) return LedPortMatch{*exact, "chinh xac"};
    if (contained) return LedPortMatch{*contained, "long"};
    if (prefix) return LedPortMatch{*prefix, formatText("tien to %lu ky tu", static_cast<unsigned long>(bestPrefix))};
    return std::nullopt;
}

}  // namespace kv

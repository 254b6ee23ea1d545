#include "leds/LedPortMatch.h"

#include "base/TextFormat.h"

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

LedPortMatch found(const MidiPortInfo& port, std::string description) {
    return {port.index, port.rawName, std::move(description)};
}

std::optional<LedPortMatch> sameRank(const std::vector<MidiPortInfo>& outputs, const AlikeKeyboard& alike) {
    if (alike.count < 2) return std::nullopt;
    std::vector<const MidiPortInfo*> named;
    for (const auto& port : outputs) {
        if (port.name == alike.name) named.push_back(&port);
    }
    if (named.size() != alike.count) return std::nullopt;
    return found(*named[alike.rank], formatText("cung ten thu %lu", static_cast<unsigned long>(alike.rank + 1)));
}

}  // namespace

std::optional<LedPortMatch> matchLedPort(const std::vector<MidiPortInfo>& outputs, const std::string& rawName,
                                         const AlikeKeyboard& alike) {
    const MidiPortInfo* exact = nullptr;
    const MidiPortInfo* contained = nullptr;
    const MidiPortInfo* prefix = nullptr;
    std::size_t bestPrefix = 0;
    for (const auto& port : outputs) {
        const std::string& name = port.rawName;
        if (name == rawName) {
            exact = &port;
        } else if (!contained && !name.empty() &&
                   (name.find(rawName) != std::string::npos || rawName.find(name) != std::string::npos)) {
            contained = &port;
        }
        const std::size_t length = commonPrefixIgnoringCase(name, rawName);
        if (length >= kMinPrefix && length > bestPrefix) {
            bestPrefix = length;
            prefix = &port;
        }
    }
    if (exact) return found(*exact, "chinh xac");
    if (auto ranked = sameRank(outputs, alike)) return ranked;
    if (contained) return found(*contained, "long");
    if (prefix) return found(*prefix, formatText("tien to %lu ky tu", static_cast<unsigned long>(bestPrefix)));
    return std::nullopt;
}

}  // namespace kv

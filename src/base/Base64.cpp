#include "base/Base64.h"

#include <array>

namespace kv {

namespace {
constexpr std::uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> makeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    return table;
}
constexpr auto kTable = makeTable();
}  // namespace

std::vector<std::uint8_t> decodeBase64(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t group = 0;
    int sextets = 0;
    for (const char character : text) {
        if (character == '=') break;
        const std::uint8_t value = kTable[static_cast<unsigned char>(character)];
        if (value == kNotInAlphabet) continue;
        group = group << 6 | value;
        if (++sextets == 4) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 16));
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
            bytes.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            sextets = 0;
        }
    }
    if (sextets >= 2) bytes.push_back(static_cast<std::uint8_t>(group >> (sextets * 6 - 8)));
    if (sextets == 3) bytes.push_back(static_cast<std::uint8_t>(group >> 2));
    return bytes;
}

}  // namespace kv

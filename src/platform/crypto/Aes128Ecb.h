#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kv {

// AES-128 in ECB mode with PKCS#7 padding: every 16-byte block enciphered on its own.
class Aes128Ecb {
public:
    using Key = std::array<std::uint8_t, 16>;
    using Bytes = std::vector<std::uint8_t>;

    explicit Aes128Ecb(const Key& key) : key_(key) {}

    std::optional<Bytes> encrypt(std::span<const std::uint8_t> plain) const;
    // Nothing when the length is not a whole number of blocks or the padding is wrong.
    std::optional<Bytes> decrypt(std::span<const std::uint8_t> cipher) const;

private:
    std::optional<Bytes> run(std::span<const std::uint8_t> input, bool encrypting) const;

    Key key_;
};

}  // namespace kv

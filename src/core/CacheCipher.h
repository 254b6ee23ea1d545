#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kv {

enum class CryptOperation { kEncrypt, kDecrypt };
using Bytes = std::vector<std::uint8_t>;

// AES-128-ECB with PKCS#7 on the key text's bytes, zero-padded to 16. The iv is accepted for
// the callers' sake and unused by the mode. Nothing on any failure, and for a key text longer
// than 16 bytes, which has no AES-128 key.
std::optional<Bytes> cryptWithOperation(CryptOperation operation, std::span<const std::uint8_t> input,
                                        std::string_view key, std::string_view iv);

// The cipher of the local cache, with the built-in key.
std::optional<Bytes> encryptData(std::span<const std::uint8_t> plain);
std::optional<Bytes> decryptData(std::span<const std::uint8_t> cipher);

}  // namespace kv

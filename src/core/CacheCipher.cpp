#include "core/CacheCipher.h"

#include "platform/crypto/Aes128Ecb.h"

#include <algorithm>

namespace kv {

namespace {
constexpr std::string_view kCacheKey = "58203617";
}  // namespace

std::optional<Bytes> cryptWithOperation(CryptOperation operation, std::span<const std::uint8_t> input,
                                        std::string_view key, std::string_view /*iv*/) {
    Aes128Ecb::Key keyBytes{};
    if (key.size() > keyBytes.size()) return std::nullopt;
    std::copy(key.begin(), key.end(), keyBytes.begin());
    const Aes128Ecb cipher(keyBytes);
    return operation == CryptOperation::kEncrypt ? cipher.encrypt(input) : cipher.decrypt(input);
}

std::optional<Bytes> encryptData(std::span<const std::uint8_t> plain) {
    return cryptWithOperation(CryptOperation::kEncrypt, plain, kCacheKey, kCacheKey);
}

std::optional<Bytes> decryptData(std::span<const std::uint8_t> cipher) {
    return cryptWithOperation(CryptOperation::kDecrypt, cipher, kCacheKey, kCacheKey);
}

}  // namespace kv

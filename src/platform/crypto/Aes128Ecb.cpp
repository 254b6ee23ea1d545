#include "platform/crypto/Aes128Ecb.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace kv {

namespace {
struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
}  // namespace

std::optional<Aes128Ecb::Bytes> Aes128Ecb::encrypt(std::span<const std::uint8_t> plain) const {
    return run(plain, true);
}

std::optional<Aes128Ecb::Bytes> Aes128Ecb::decrypt(std::span<const std::uint8_t> cipher) const {
    return run(cipher, false);
}

std::optional<Aes128Ecb::Bytes> Aes128Ecb::run(std::span<const std::uint8_t> input,
                                               bool encrypting) const {
    if (input.size() > static_cast<std::size_t>(INT_MAX) - 16) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_CipherInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key_.data(), nullptr,
                          encrypting ? 1 : 0) != 1) {
        return std::nullopt;
    }
    Bytes output(input.size() + 16);
    int written = 0;
    int finalWritten = 0;
    if (EVP_CipherUpdate(context.get(), output.data(), &written, input.data(),
                         static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), output.data() + written, &finalWritten) != 1) {
        return std::nullopt;
    }
    output.resize(static_cast<std::size_t>(written + finalWritten));
    return output;
}

}  // namespace kv

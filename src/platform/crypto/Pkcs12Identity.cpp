#include "platform/crypto/Pkcs12Identity.h"

#include "platform/crypto/Sha256.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include <climits>
#include <ctime>
#include <vector>

namespace kv {

namespace {

struct Pkcs12Free {
    void operator()(PKCS12* archive) const { PKCS12_free(archive); }
};

// Many certificate tools still write PKCS#12 files with RC2 and 3DES, which OpenSSL 3 keeps in
// its legacy provider; the default provider must be loaded beside it, or it would be replaced.
// Both stay loaded for the life of the process: TLS contexts may be freed as late as its end.
void loadLegacyCiphers() {
    static OSSL_PROVIDER* const legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* const fallback = OSSL_PROVIDER_load(nullptr, "default");
    static_cast<void>(legacy);
    static_cast<void>(fallback);
}

}  // namespace

std::variant<Pkcs12Identity, int> Pkcs12Identity::import(std::span<const std::uint8_t> data,
                                                         const std::string& password) {
    if (data.empty() || data.size() > INT_MAX) return 0;
    loadLegacyCiphers();
    ERR_clear_error();
    const unsigned char* cursor = data.data();
    std::unique_ptr<PKCS12, Pkcs12Free> archive(
        d2i_PKCS12(nullptr, &cursor, static_cast<long>(data.size())));
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (!archive || PKCS12_parse(archive.get(), password.c_str(), &key, &certificate, &chain) != 1) {
        const int reason = ERR_GET_REASON(ERR_peek_last_error());
        ERR_clear_error();
        return reason;
    }
    Key ownedKey(key);
    Certificate ownedCertificate(certificate);
    Chain ownedChain(chain);
    if (!ownedKey || !ownedCertificate) return 0;
    return Pkcs12Identity(std::move(ownedKey), std::move(ownedCertificate), std::move(ownedChain));
}

std::string Pkcs12Identity::fingerprint() const {
    const int length = i2d_X509(certificate_.get(), nullptr);
    if (length <= 0) return {};
    std::vector<std::uint8_t> der(static_cast<std::size_t>(length));
    unsigned char* cursor = der.data();
    i2d_X509(certificate_.get(), &cursor);
    return sha256Hex(der);
}

std::optional<std::chrono::system_clock::time_point> Pkcs12Identity::notAfter() const {
    const ASN1_TIME* time = X509_get0_notAfter(certificate_.get());
    std::tm utc{};
    if (!time || ASN1_TIME_to_tm(time, &utc) != 1) return std::nullopt;
    return std::chrono::system_clock::from_time_t(timegm(&utc));
}

std::string Pkcs12Identity::subject() const {
    const X509_NAME* name = X509_get_subject_name(certificate_.get());
    if (!name) return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> text(BIO_new(BIO_s_mem()), BIO_free);
    if (!text || X509_NAME_print_ex(text.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) return {};
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(text.get(), &bytes);
    return std::string(bytes, static_cast<std::size_t>(length));
}

}  // namespace kv

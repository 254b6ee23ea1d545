#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace kv {

// The identity of a PKCS#12 (PFX) file: private key, certificate and any chain.
class Pkcs12Identity {
public:
    struct EvpKeyFree {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    struct X509Free {
        void operator()(X509* certificate) const { X509_free(certificate); }
    };
    struct X509StackFree {
        void operator()(STACK_OF(X509) * chain) const { sk_X509_pop_free(chain, X509_free); }
    };
    using Key = std::unique_ptr<EVP_PKEY, EvpKeyFree>;
    using Certificate = std::unique_ptr<X509, X509Free>;
    using Chain = std::unique_ptr<STACK_OF(X509), X509StackFree>;

    // The identity, or the OpenSSL reason code of the failure (0 for an empty file or one
    // without a key, a certificate or both).
    static std::variant<Pkcs12Identity, int> import(std::span<const std::uint8_t> data,
                                                    const std::string& password);

    EVP_PKEY* key() const { return key_.get(); }
    X509* certificate() const { return certificate_.get(); }
    STACK_OF(X509) * chain() const { return chain_.get(); }

    // SHA-256 of the certificate's DER bytes, lower-case hexadecimal.
    std::string fingerprint() const;
    std::optional<std::chrono::system_clock::time_point> notAfter() const;
    // The certificate's subject on one line ("CN = localhost, O = …").
    std::string subject() const;

private:
    Pkcs12Identity(Key key, Certificate certificate, Chain chain)
        : key_(std::move(key)), certificate_(std::move(certificate)), chain_(std::move(chain)) {}

    Key key_;
    Certificate certificate_;
    Chain chain_;
};

}  // namespace kv

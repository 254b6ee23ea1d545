#pragma once

#include <filesystem>
#include <string>

namespace kv::test {

// Certificates made with the openssl command for one test, all for 127.0.0.1 and localhost.
struct TestCertificate {
    std::filesystem::path certificatePem;
    std::filesystem::path keyPem;

    std::string pem() const;
    // The PKCS#12 file of this certificate and key under the password: a fresh salt each time,
    // so two exports of one certificate differ in their bytes. `legacy`: the older format (RC2
    // and 3DES) that many certificate tools still write.
    std::filesystem::path exportPfx(const std::filesystem::path& file, const std::string& password,
                                    bool legacy = false) const;
};

// The certificate of a PKCS#12 file as PEM, for a client to trust.
std::string certificatePemOf(const std::filesystem::path& pfx, const std::string& password);

// A new self-signed certificate in the folder, valid for `days`.
TestCertificate makeCertificate(const std::filesystem::path& folder, const std::string& name, int days = 365);

}  // namespace kv::test

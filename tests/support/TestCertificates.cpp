#include "support/TestCertificates.h"

#include "platform/crypto/Pkcs12Identity.h"

#include <openssl/pem.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace kv::test {

namespace {

void run(const std::string& command) {
    if (std::system((command + " 2>/dev/null").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

std::string shellQuoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

}  // namespace

std::string TestCertificate::pem() const {
    std::ifstream file(certificatePem);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::filesystem::path TestCertificate::exportPfx(const std::filesystem::path& file, const std::string& password,
                                                 bool legacy) const {
    run(std::string("openssl pkcs12 -export") + (legacy ? " -legacy" : "") + " -inkey " + shellQuoted(keyPem) + " -in " + shellQuoted(certificatePem) +
        " -passout " + shellQuoted("pass:" + password) + " -out " + shellQuoted(file));
    return file;
}

TestCertificate makeCertificate(const std::filesystem::path& folder, const std::string& name, int days) {
    TestCertificate certificate{folder / (name + ".pem"), folder / (name + "-key.pem")};
    run("openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days " + std::to_string(days) +
        " -keyout " + shellQuoted(certificate.keyPem) + " -out " + shellQuoted(certificate.certificatePem) +
        " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1");
    return certificate;
}

std::string certificatePemOf(const std::filesystem::path& pfx, const std::string& password) {
    std::ifstream file(pfx, std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto imported = Pkcs12Identity::import(data, password);
    const auto* identity = std::get_if<Pkcs12Identity>(&imported);
    if (!identity) return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(bio.get(), identity->certificate());
    char* text = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace kv::test

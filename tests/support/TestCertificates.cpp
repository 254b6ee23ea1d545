#include "support/TestCertificates.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

}  // namespace kv::test

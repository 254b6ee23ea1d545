#pragma once

#include "support/TempDirectory.h"
#include "support/TestCertificates.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::test {

// https_server.py serving a folder of the test's own on a loopback port, over TLS or plain HTTP.
class HttpsTestServer {
public:
    enum class Scheme { https, http };
    explicit HttpsTestServer(Scheme scheme = Scheme::https);
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    std::string url(const std::string& path) const;
    std::string manifestUrl() const { return url("/kv-cert/130717/manifest.json"); }
    // The certificate clients must trust.
    const TestCertificate& certificate() const { return certificate_; }
    // Puts (or, with an empty text, removes) a file in the served folder.
    void put(const std::string& name, const std::string& content) const;
    void copy(const std::filesystem::path& from, const std::string& name) const;
    std::vector<std::string> requests() const;

private:
    TempDirectory folder_;
    TempDirectory keys_;
    TestCertificate certificate_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    Scheme scheme_;
};

}  // namespace kv::test

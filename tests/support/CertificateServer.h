#pragma once

#include "support/HttpsTestServer.h"
#include "support/TempDirectory.h"

#include <filesystem>
#include <string>

namespace kv::test {

// Certificates the service finds through its manifest, each made once and served under its name,
// exported under the password the service opens them with.
class CertificateServer {
public:
    explicit CertificateServer(std::string pfxPassword) : password_(std::move(pfxPassword)) {}

    // Makes and serves the certificate of that name; answers its PEM.
    std::string add(const std::string& name);
    // The manifest names that certificate as the current version.
    void announce(const std::string& version, const std::string& name) const;
    bool fetched(const std::string& name) const;
    std::string manifestUrl() const { return server_.manifestUrl(); }

private:
    std::string password_;
    TempDirectory keys_;
    HttpsTestServer server_{HttpsTestServer::Scheme::http};
};

// Waits, at most five seconds, until the certificate folder's state names that version.
bool waitForCertificateState(const std::filesystem::path& folder, const std::string& version);

}  // namespace kv::test

#include "support/CertificateServer.h"

#include "platform/crypto/Sha256.h"
#include "support/TestCertificates.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace kv::test {

namespace {

std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string CertificateServer::add(const std::string& name) {
    const auto pfx = makeCertificate(keys_.path(), name).exportPfx(keys_.path() / (name + ".pfx"), password_);
    server_.copy(pfx, name + ".pfx");
    return certificatePemOf(pfx, password_);
}

void CertificateServer::announce(const std::string& version, const std::string& name) const {
    const std::string pfx = fileText(keys_.path() / (name + ".pfx"));
    const std::vector<std::uint8_t> bytes(pfx.begin(), pfx.end());
    server_.put("manifest.json", nlohmann::json({{"version", version},
                                                 {"url", server_.url("/files/" + name + ".pfx")},
                                                 {"sha256", sha256Hex(bytes)}})
                                     .dump());
}

bool CertificateServer::fetched(const std::string& name) const {
    const auto requests = server_.requests();
    return std::any_of(requests.begin(), requests.end(),
                       [&](const std::string& line) { return line.starts_with("/files/" + name + ".pfx"); });
}

bool waitForCertificateState(const std::filesystem::path& folder, const std::string& version) {
    for (int i = 0; i < 500; ++i) {
        if (fileText(folder / "cert-state.json").find("\"" + version + "\"") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace kv::test

#include "core/SocketService.h"
#include "platform/crypto/Pkcs12Identity.h"
#include "platform/desktop/Resources.h"
#include "store/File.h"

#include "support/InProcessService.h"
#include "support/TestCertificates.h"

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <thread>

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::call;
using test::freePort;
using test::request;
using Client = test::WsClient;

// The certificate of a PKCS#12 file, as PEM, and its fingerprint.
struct Served {
    std::string pem;
    std::string fingerprint;
};

Served servedBy(const std::filesystem::path& pfx) {
    const auto data = File::readFromFileToDataWithURL(pfx).value();
    const auto imported = Pkcs12Identity::import(data, CertManager::kPfxPassword);
    return {test::certificatePemOf(pfx, CertManager::kPfxPassword), std::get<Pkcs12Identity>(imported).fingerprint()};
}

class TlsServiceTest : public test::InProcessService {
protected:
    std::uint16_t tlsPort() { return service_->tlsPort().value_or(0); }
    std::uint16_t plainPort() { return service_->plainPort().value_or(0); }

    // Installs a new certificate as the manager would, and announces it.
    Served rotateToNewCertificate() {
        test::TempDirectory keys;
        const auto pfx = test::makeCertificate(keys.path(), "rotated")
                             .exportPfx(certFolder_.path() / "current.pfx", CertManager::kPfxPassword);
        onMainLoop([] { CertManager::shared().didUpdateNotification().post(); });
        return servedBy(pfx);
    }

    // Waits until both listeners serve the ports.
    bool servesOn(std::uint16_t plain, std::uint16_t tls, std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < deadline) {
            if (plainPort() == plain && tlsPort() == tls) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
};

TEST_F(TlsServiceTest, TheShippedCertificateServesWss) {
    startService();
    const Served lumen = servedBy(resourcePath("lumen.pfx"));
    Client client(tlsPort(), Client::TlsTrust{lumen.pem});
    EXPECT_EQ(client.peerFingerprint(), lumen.fingerprint);
    EXPECT_EQ(call(client, request(31, "k")), nlohmann::json({{"message", "SUCCESS"}, {"code", 0}}));
}

TEST_F(TlsServiceTest, ARotationServesTheNewCertificateAndKeepsThePlainConnections) {
    const auto plainPort = startService();
    Client plain(plainPort);
    ASSERT_EQ(call(plain, request(31, "before"))["code"], 0);
    const auto port = tlsPort();

    const Served rotated = rotateToNewCertificate();
    ASSERT_TRUE(servesOn(plainPort, port, 5s));
    std::unique_ptr<Client> client;
    for (int attempt = 0; attempt < 100 && !client; ++attempt) {
        try {
            client = std::make_unique<Client>(port, Client::TlsTrust{rotated.pem});
        } catch (const std::exception&) {
            std::this_thread::sleep_for(20ms);  // the old listener may still be the one answering
        }
    }
    ASSERT_TRUE(client);
    EXPECT_EQ(client->peerFingerprint(), rotated.fingerprint);
    EXPECT_EQ(call(*client, request(31, "k"))["code"], 0);
    EXPECT_EQ(call(plain, request(31, "after"))["code"], 0);
}

TEST_F(TlsServiceTest, ARotationThatCannotBindRetriesFiveTimesThenMovesBothListeners) {
    const std::vector<std::uint16_t> ports = {freePort(), freePort()};
    const std::vector<std::uint16_t> portsSSL = {freePort(), freePort()};
    startService(ports, portsSSL);

    boost::asio::io_context other;
    boost::asio::ip::tcp::acceptor holder(other);
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    onNetwork([&] {
        service_->socketService().reloadSSLCertificate();
        // The listener has closed its port: take it before the restart does.
        holder.open(boost::asio::ip::tcp::v4());
        holder.bind({boost::asio::ip::make_address("127.0.0.1"), portsSSL[0]});
        holder.listen();
    });
    const bool moved = servesOn(ports[1], portsSSL[1], 8s);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string console = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(moved);
    EXPECT_GE(elapsed, 6 * 700ms - 50ms);  // the first restart and five retries, 0.7 s apart
    for (int retry = 1; retry <= 5; ++retry) {
        EXPECT_NE(console.find("[SocketService] rotate bind fail → retry " + std::to_string(retry) + " cùng cổng"),
                  std::string::npos)
            << retry;
    }
    EXPECT_EQ(console.find("retry 6"), std::string::npos);
    EXPECT_NE(console.find("[SocketService] rotate retry quá nhiều → fallback đổi cổng"), std::string::npos);
    Client client(ports[1]);
    EXPECT_EQ(call(client, request(31, "k"))["code"], 0);
}

}  // namespace
}  // namespace kv

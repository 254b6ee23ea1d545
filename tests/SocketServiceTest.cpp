#include "core/SocketService.h"
#include "core/Version.h"
#include "platform/crypto/Pkcs12Identity.h"
#include "platform/desktop/Resources.h"
#include "store/File.h"

#include "support/Eventually.h"
#include "support/InProcessService.h"
#include "support/TestCertificates.h"

#include <boost/asio/ip/tcp.hpp>

#include <thread>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
namespace asio = boost::asio;
using test::answer;
using test::freePort;
using test::request;
using Client = test::WsClient;

class SocketServiceTest : public test::InProcessService {
protected:
    bool servesOn(std::uint16_t plain, std::uint16_t tls, std::chrono::milliseconds within) {
        return test::eventually([&] { return service_->plainPort() == plain && service_->tlsPort() == tls; }, within);
    }
    // Whether the client gets the token once the service has seen the last holder go.
    static bool takesTokenOnceFree(Client& client, const std::string& token) {
        return test::eventually([&] { return test::call(client, request(45, "t", {{"token", token}}))["code"] == 0; });
    }
};

TEST_F(SocketServiceTest, PingKeepAliveAndKeyFlowsAnswerInTheirEnvelope) {
    Client client(startService());
    client.sendText(R"({"methodName":"1","functionId":"f1","clientID":"u1"})");
    const json ping = answer(client);
    EXPECT_EQ(ping["functionId"], "f1");
    EXPECT_EQ(ping["clientID"], "u1");
    EXPECT_EQ(ping["errorMessage"], "SUCCESS");
    EXPECT_EQ(ping["data"], json({{"pluginVersion", getVersion()}}));
    EXPECT_EQ(test::call(client, request(31, "k")), json({{"message", "SUCCESS"}, {"code", 0}}));
    EXPECT_EQ(test::call(client, request(21, "s", {{"anything", 1}})), json::object());
    EXPECT_TRUE(json::parse(test::call(client, request(22, "g")).value("EncryptionKey", "null"), nullptr, false).is_object());
}

// Numbers without a flow and text that is no JSON are not answered; other shapes are answered
// with why, as a bare text; none of them ends the connection.
TEST_F(SocketServiceTest, WhatIsNoRequestIsSilentOrAnsweredWithAnErrorText) {
    Client client(startService());
    for (const char* silent : {R"({"methodName":0})", R"({"methodName":8})", R"({"methodName":61})",
                               R"({"methodName":-1})", R"({"methodName":"abc"})", R"({})", "not json", "{\"methodName\":1"}) {
        client.sendText(silent);
    }
    const std::string deep = R"({"methodName":1,"data":)" + std::string(100, '[') + std::string(100, ']') + "}";
    for (const auto& [message, error] : std::vector<std::pair<std::string, std::string>>{
             {"[1,2,3]", "Request is not a JSON object"}, {"\"text\"", "Request is not a JSON object"},
             {R"({"methodName":1,"data":[1]})", "\"data\" is not a JSON object"}, {deep, "JSON nested deeper than 64 levels"}}) {
        client.sendText(message);
        EXPECT_EQ(client.receive(), error) << message;
    }
    client.sendBinary(request(1, "bin").dump());
    EXPECT_EQ(client.receive(), "Message is not text");
    client.sendText(request(1, "still").dump());
    EXPECT_EQ(answer(client)["functionId"], "still");
}

// The holder's connection ends with a close frame, then one is dropped without.
TEST_F(SocketServiceTest, OneClientHoldsTheTokenUntilItsConnectionEndsHoweverItEnds) {
    const auto port = startService();
    Client first(port);
    auto second = std::make_unique<Client>(port);
    EXPECT_EQ(test::call(first, request(45, "t", {{"token", "A"}})), json({{"message", "SUCCESS"}, {"code", 0}}));
    EXPECT_EQ(test::call(*second, request(45, "t", {{"token", "B"}})),
              json({{"message", "Plugin just hold 1 connection as same time"}, {"code", -1}}));
    EXPECT_EQ(test::call(first, request(45, "t", {{"token", "A"}}))["code"], 0);
    EXPECT_EQ(test::call(*second, request(1, "p")).value("pluginVersion", ""), getVersion()) << "the refused client is served";
    first.close();
    EXPECT_TRUE(takesTokenOnceFree(*second, "B"));
    second.reset();
    Client third(port);
    EXPECT_TRUE(takesTokenOnceFree(third, "C"));
}

// Both listeners move, wss with ws.
TEST_F(SocketServiceTest, ATakenPortMovesTheServiceToTheNextOne) {
    const auto taken = freePort();
    const auto next = freePort();
    const std::vector<std::uint16_t> portsSSL = {freePort(), freePort()};
    asio::io_context other;
    asio::ip::tcp::acceptor holder(other, {asio::ip::make_address("127.0.0.1"), taken});
    EXPECT_EQ(startService({taken, next}, portsSSL), next);
    EXPECT_EQ(service_->tlsPort(), portsSSL[1]);
    Client client(next);
    EXPECT_EQ(test::call(client, request(31, "moved"))["code"], 0);
}

TEST_F(SocketServiceTest, AMessageOfTheFullSizeIsServedAndHostileFramesEndOnlyTheirConnection) {
    const auto port = startService();
    Client bystander(port);
    Client tooBig(port);
    tooBig.sendText(std::string(16 * 1024 * 1024 + 1, ' '));
    EXPECT_EQ(tooBig.receive(), std::nullopt);
    EXPECT_EQ(tooBig.closeCode(), 1009);
    Client badText(port);
    badText.sendText("{\"methodName\":1,\"functionId\":\"\xff\xfe\"}");
    EXPECT_EQ(badText.receive(), std::nullopt);
    EXPECT_EQ(badText.closeCode(), 1007);
    bystander.sendText(request(1, "big", {{"blob", std::string(16 * 1024 * 1024 - 100, 'x')}}).dump());
    EXPECT_EQ(answer(bystander)["functionId"], "big");
}

// The certificate of a PKCS#12 file as PEM, and its fingerprint.
std::pair<std::string, std::string> servedBy(const std::filesystem::path& pfx) {
    const auto imported = Pkcs12Identity::import(File::readFromFileToDataWithURL(pfx).value(), CertManager::kPfxPassword);
    return {test::certificatePemOf(pfx, CertManager::kPfxPassword), std::get<Pkcs12Identity>(imported).fingerprint()};
}

// The shipped certificate, then a new one installed and announced: wss serves it on the same
// port, and plain connections stay.
TEST_F(SocketServiceTest, WssServesTheShippedCertificateThenARotatedOne) {
    const auto plainPort = startService();
    const auto port = service_->tlsPort().value();
    const auto [lumenPem, lumenFingerprint] = servedBy(resourcePath("lumen.pfx"));
    Client lumen(port, Client::TlsTrust{lumenPem});
    EXPECT_EQ(lumen.peerFingerprint(), lumenFingerprint);
    Client plain(plainPort);
    ASSERT_EQ(test::call(plain, request(31, "before"))["code"], 0);

    test::TempDirectory keys;
    const auto [pem, fingerprint] = servedBy(
        test::makeCertificate(keys.path(), "rotated").exportPfx(certFolder_.path() / "current.pfx", CertManager::kPfxPassword));
    onMainLoop([] { CertManager::shared().didUpdateNotification().post(); });
    ASSERT_TRUE(servesOn(plainPort, port, 5s));
    std::unique_ptr<Client> client;
    for (int attempt = 0; attempt < 100 && !client; ++attempt) {
        try {
            client = std::make_unique<Client>(port, Client::TlsTrust{pem});
        } catch (const std::exception&) {
            std::this_thread::sleep_for(20ms);  // the old listener may still be the one answering
        }
    }
    ASSERT_TRUE(client);
    EXPECT_EQ(client->peerFingerprint(), fingerprint);
    EXPECT_EQ(test::call(*client, request(31, "k"))["code"], 0);
    EXPECT_EQ(test::call(plain, request(31, "after"))["code"], 0);
}

TEST_F(SocketServiceTest, ARotationThatCannotBindRetriesFiveTimesThenMovesBothListeners) {
    const std::vector<std::uint16_t> ports = {freePort(), freePort()};
    const std::vector<std::uint16_t> portsSSL = {freePort(), freePort()};
    startService(ports, portsSSL);
    asio::io_context other;
    asio::ip::tcp::acceptor holder(other);
    const auto started = std::chrono::steady_clock::now();
    onNetwork([&] {
        service_->socketService().reloadSSLCertificate();
        // The listener has closed its port: take it before the restart does.
        holder.open(asio::ip::tcp::v4());
        holder.bind({asio::ip::make_address("127.0.0.1"), portsSSL[0]});
        holder.listen();
    });
    EXPECT_TRUE(servesOn(ports[1], portsSSL[1], 8s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 6 * 700ms - 50ms) << "the restart and five retries, 0.7 s apart";
    Client client(ports[1]);
    EXPECT_EQ(test::call(client, request(31, "k"))["code"], 0);
}

}  // namespace
}  // namespace kv

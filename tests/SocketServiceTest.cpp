#include "core/Version.h"

#include "support/InProcessService.h"

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

using SocketServiceTest = test::InProcessService;

TEST_F(SocketServiceTest, PingKeepAliveAndKeyFlowsAnswerInTheirEnvelope) {
    test::WsClient client(startService());
    client.sendText(R"({"methodName":"1","functionId":"f1","clientID":"u1"})");
    const json ping = answer(client);
    EXPECT_EQ(ping["functionId"], "f1");
    EXPECT_EQ(ping["clientID"], "u1");
    EXPECT_EQ(ping["responseCode"], 0);
    EXPECT_EQ(ping["errorMessage"], "SUCCESS");
    EXPECT_EQ(ping["data"], json({{"pluginVersion", getVersion()}}));

    client.sendText(request(31, "k").dump());
    EXPECT_EQ(answer(client)["data"], json({{"message", "SUCCESS"}, {"code", 0}}));

    client.sendText(request(21, "s", {{"anything", 1}}).dump());
    EXPECT_EQ(answer(client)["data"], json::object());

    client.sendText(request(22, "g").dump());
    const json key = answer(client)["data"];
    EXPECT_EQ(key["code"], 0);
    EXPECT_EQ(key["message"], "");
    const std::string record = key["EncryptionKey"];
    EXPECT_TRUE(record.starts_with(R"({"iv":"5c0e9a2f7b3d1e4a6f8c0b2d4e6a8c1f","salt":")")) << record;
    EXPECT_TRUE(record.ends_with(R"("keySize":128,"iterations":100,"passPhrase":"7d2c9e4b1a6f3e80","lastModified":"2017-12-04T04:41:51"})"))
        << record;
}

TEST_F(SocketServiceTest, NumbersWithoutAFlowAndTextThatIsNotJsonAreSilent) {
    test::WsClient client(startService());
    for (const char* silent : {R"({"methodName":0})", R"({"methodName":8})", R"({"methodName":61})",
                               R"({"methodName":-1})", R"({"methodName":"abc"})", R"({})",
                               "not json", "{\"methodName\":1"}) {
        client.sendText(silent);
    }
    client.sendText(request(1, "after").dump());
    EXPECT_EQ(answer(client)["functionId"], "after");
}

TEST_F(SocketServiceTest, MessagesOfTheWrongShapeAreAnsweredWithAnErrorText) {
    test::WsClient client(startService());
    const std::string deep = R"({"methodName":1,"data":)" + std::string(100, '[') +
                             std::string(100, ']') + "}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[1,2,3]", "Request is not a JSON object"},
        {"\"text\"", "Request is not a JSON object"},
        {R"({"methodName":1,"data":[1]})", "\"data\" is not a JSON object"},
        {deep, "JSON nested deeper than 64 levels"},
    };
    for (const auto& [message, error] : cases) {
        client.sendText(message);
        EXPECT_EQ(client.receive(), error) << message;
    }
    client.sendBinary(request(1, "bin").dump());
    EXPECT_EQ(client.receive(), "Message is not text");
    client.sendText(request(1, "still").dump());
    EXPECT_EQ(answer(client)["functionId"], "still");
}

TEST_F(SocketServiceTest, OneClientHoldsTheTokenUntilAConnectionCloses) {
    const auto port = startService();
    auto first = std::make_unique<test::WsClient>(port);
    test::WsClient second(port);
    auto saveToken = [](test::WsClient& client, const std::string& token) {
        client.sendText(request(45, "t", {{"token", token}}).dump());
        return answer(client)["data"];
    };
    EXPECT_EQ(saveToken(*first, "A"), json({{"message", "SUCCESS"}, {"code", 0}}));
    EXPECT_EQ(saveToken(second, "B"),
              json({{"message", "Plugin just hold 1 connection as same time"}, {"code", -1}}));
    EXPECT_EQ(saveToken(*first, "A")["code"], 0);
    // The refused client is still served.
    second.sendText(request(1, "p").dump());
    EXPECT_EQ(answer(second)["functionId"], "p");

    first->close();
    first.reset();
    json result;
    for (int attempt = 0; attempt < 100 && result["code"] != 0; ++attempt) {
        result = saveToken(second, "B");
        if (result["code"] != 0) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(result["code"], 0);
}

TEST_F(SocketServiceTest, AConnectionDroppedWithoutCloseAlsoFreesTheToken) {
    const auto port = startService();
    {
        test::WsClient first(port);
        first.sendText(request(45, "t", {{"token", "A"}}).dump());
        ASSERT_EQ(answer(first)["data"]["code"], 0);
    }  // socket closed without a close frame
    test::WsClient second(port);
    json result;
    for (int attempt = 0; attempt < 100 && result["code"] != 0; ++attempt) {
        second.sendText(request(45, "t", {{"token", "B"}}).dump());
        result = answer(second)["data"];
        if (result["code"] != 0) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(result["code"], 0);
}

TEST_F(SocketServiceTest, ATakenPortMovesTheServiceToTheNextOne) {
    const auto taken = freePort();
    const auto next = freePort();
    asio::io_context other;
    asio::ip::tcp::acceptor holder(other, {asio::ip::make_address("127.0.0.1"), taken});
    EXPECT_EQ(startService({taken, next}), next);
    test::WsClient client(next);
    client.sendText(request(1, "moved").dump());
    EXPECT_EQ(answer(client)["functionId"], "moved");
}

TEST_F(SocketServiceTest, HostileFramesEndOnlyTheirOwnConnection) {
    const auto port = startService();
    test::WsClient bystander(port);

    test::WsClient tooBig(port);
    tooBig.sendText(std::string(16 * 1024 * 1024 + 1, ' '));
    EXPECT_EQ(tooBig.receive(), std::nullopt);
    EXPECT_EQ(tooBig.closeCode(), 1009);

    test::WsClient badText(port);
    badText.sendText("{\"methodName\":1,\"functionId\":\"\xff\xfe\"}");
    EXPECT_EQ(badText.receive(), std::nullopt);
    EXPECT_EQ(badText.closeCode(), 1007);

    bystander.sendText(request(1, "alive").dump());
    EXPECT_EQ(answer(bystander)["functionId"], "alive");
}

TEST_F(SocketServiceTest, AMessageOfTheFullSizeIsServed) {
    test::WsClient client(startService());
    json big = request(1, "big", {{"blob", std::string(16 * 1024 * 1024 - 100, 'x')}});
    client.sendText(big.dump());
    EXPECT_EQ(answer(client)["functionId"], "big");
}

}  // namespace
}  // namespace kv

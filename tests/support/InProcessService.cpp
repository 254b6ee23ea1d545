#include "support/InProcessService.h"

#include "core/KeyvoraFlow.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include <future>

namespace kv::test {

namespace asio = boost::asio;
using namespace std::chrono_literals;

std::uint16_t freePort() {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

void InProcessService::SetUp() {
    KeyvoraFlow::shared().token.set("");
}

void InProcessService::TearDown() {
    if (!loop_.joinable()) return;
    asio::post(context_, [this] { service_.reset(); });
    keepAlive_.reset();
    context_.stop();
    loop_.join();
}

std::uint16_t InProcessService::startService(std::vector<std::uint16_t> ports) {
    service_ = std::make_shared<SocketService>(context_, dispatcher_, std::move(ports),
                                               std::vector<std::uint16_t>{0, 0});
    asio::post(context_, [this] { service_->createServer(); });
    loop_ = std::thread([this] { context_.run(); });
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::promise<std::optional<std::uint16_t>> port;
        asio::post(context_, [&] { port.set_value(service_->plainPort()); });
        if (auto served = port.get_future().get()) return *served;
        std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "the service did not start";
    return 0;
}

nlohmann::json request(int methodName, const std::string& functionId, nlohmann::json data) {
    nlohmann::json text = {{"methodName", methodName}, {"functionId", functionId}};
    if (!data.is_null()) text["data"] = std::move(data);
    return text;
}

nlohmann::json answer(WsClient& client) {
    auto text = client.receive();
    if (!text) return nullptr;
    return nlohmann::json::parse(*text, nullptr, false);
}

nlohmann::json call(WsClient& client, const nlohmann::json& request) {
    client.sendText(request.dump());
    const auto response = answer(client);
    return response.is_object() ? response.value("data", nlohmann::json()) : nlohmann::json();
}

}  // namespace kv::test

#include "support/InProcessService.h"

#include "core/KeyvoraFlow.h"
#include "platform/desktop/Resources.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>


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
    onMainLoop([this] { service_.reset(); });
    certManager_.reset();
    keepAlive_.reset();
    context_.stop();
    loop_.join();
}

CertManager::Settings InProcessService::certSettings() {
    CertManager::Settings settings;
    settings.manifestUrl = "https://127.0.0.1:9/kv-cert/130717/manifest.json";
    settings.certDir = certFolder_.path();
    settings.bundledPfx = resourcePath("lumen.pfx");
    settings.mainExecutor = context_.get_executor();
    return settings;
}

std::uint16_t InProcessService::startService(std::vector<std::uint16_t> ports,
                                             std::vector<std::uint16_t> portsSSL) {
    if (!certManager_) certManager_ = std::make_unique<CertManager>(certSettings());
    service_ = std::make_shared<SocketService>(context_, dispatcher_, *certManager_, std::move(ports),
                                               std::move(portsSSL), limits_);
    loop_ = std::thread([this] { context_.run(); });
    onMainLoop([this] { service_->createServer(); });
    for (int attempt = 0; attempt < 300; ++attempt) {
        const auto served = onMainLoop([this] { return std::pair(service_->plainPort(), service_->tlsPort()); });
        if (served.first && served.second) return *served.first;
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

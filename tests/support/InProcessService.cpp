#include "support/InProcessService.h"

#include "platform/desktop/Resources.h"

#include <boost/asio/ip/tcp.hpp>

#include <thread>

namespace kv::test {

namespace asio = boost::asio;
using namespace std::chrono_literals;

std::uint16_t freePort() {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

void InProcessService::TearDown() {
    browser_.reset();
    service_.reset();
}

WsClient& InProcessService::browser() {
    if (!browser_) browser_ = std::make_unique<WsClient>(service_->plainPort().value());
    return *browser_;
}

nlohmann::json InProcessService::next(std::chrono::milliseconds within) {
    return answer(browser(), within);
}

nlohmann::json InProcessService::call(int methodName, nlohmann::json data) {
    return call(request(methodName, "f", std::move(data)));
}

nlohmann::json InProcessService::call(const nlohmann::json& request, std::chrono::milliseconds within) {
    browser().sendText(request.dump());
    for (auto message = next(within); message.is_object(); message = next(within)) {
        if (message.value("methodName", 0) == request.value("methodName", 0)) return message.value("data", nlohmann::json());
    }
    return nullptr;
}

std::uint16_t InProcessService::startService(std::vector<std::uint16_t> ports, std::vector<std::uint16_t> portsSSL) {
    ServiceSettings settings;
    settings.ports = std::move(ports);
    settings.portsSSL = std::move(portsSSL);
    settings.limits = limits_;
    settings.quietBeforeRest = quietBeforeRest_;
    settings.database = store_.path() / "keyvora.sqlite";
    CertManager::Settings certificates;
    certificates.manifestUrl = "https://127.0.0.1:9/kv-cert/130717/manifest.json";  // no server answers
    certificates.certDir = certFolder_.path();
    certificates.bundledPfx = resourcePath("lumen.pfx");
    settings.certificates = certificates;
    service_ = std::make_unique<Service>(std::move(settings));
    service_->startListeners();
    for (int attempt = 0; attempt < 300; ++attempt) {
        const auto plain = service_->plainPort();
        if (plain && service_->tlsPort()) return *plain;
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

nlohmann::json answer(WsClient& client, std::chrono::milliseconds within) {
    auto text = client.receive(within);
    if (!text) return nullptr;
    return nlohmann::json::parse(*text, nullptr, false);
}

nlohmann::json call(WsClient& client, const nlohmann::json& request) {
    client.sendText(request.dump());
    const auto response = answer(client);
    return response.is_object() ? response.value("data", nlohmann::json()) : nlohmann::json();
}

}  // namespace kv::test

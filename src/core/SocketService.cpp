#include "core/SocketService.h"

#include "base/Console.h"
#include "base/Log.h"
#include "core/CertManager.h"
#include "core/RequestDispatcher.h"
#include "platform/crypto/Pkcs12Identity.h"
#include "platform/crypto/TlsServerContext.h"
#include "platform/dispatch/DelayedWork.h"
#include "platform/net/WebSocketServer.h"
#include "store/File.h"

#include <boost/asio/post.hpp>

namespace kv {

namespace {

constexpr auto kRotateRetryDelay = std::chrono::milliseconds(700);
constexpr std::int32_t kMaxRotateRetries = 5;

bool pastEnd(std::int32_t index, const std::vector<std::uint16_t>& list) {
    return index >= static_cast<std::int32_t>(list.size());
}

}  // namespace

SocketService::SocketService(boost::asio::io_context& network, boost::asio::any_io_executor mainQueue,
                             RequestDispatcher& dispatcher, CertManager& certManager,
                             std::vector<std::uint16_t> portList, std::vector<std::uint16_t> portListSSL,
                             WebSocketLimits limits)
    : context_(network),
      mainQueue_(std::move(mainQueue)),
      dispatcher_(dispatcher),
      certManager_(certManager),
      limits_(std::move(limits)),
      // The notification comes on the main queue; the listeners are the network thread's.
      certDidUpdate_(certManager.didUpdateNotification().subscribe([this] {
          boost::asio::post(context_, [weak = weak_from_this()] {
              if (auto self = weak.lock()) self->reloadSSLCertificate();
          });
      })),
      portList_(std::move(portList)),
      portListSSL_(std::move(portListSSL)) {}

SocketService::~SocketService() = default;

void SocketService::createServer() {
    startServer();
    startServerSSL();
    certManager_.start();
}

void SocketService::stop() {
    if (server_) server_->stop();
    if (serverSSL_) serverSSL_->stop();
    server_.reset();
    serverSSL_.reset();
}

void SocketService::startServer() {
    if (pastEnd(indexPort_, portList_)) {
        logText(kLogError, "Error: server cannot create with all port in list");
        return;
    }
    if (server_) server_->stop();
    serverStarted_ = false;
    server_ = std::make_shared<WebSocketServer>(context_, kListenAddress,
                                                portList_[static_cast<std::size_t>(indexPort_)],
                                                weak_from_this(), limits_);
    server_->start();
}

void SocketService::startServerSSL() {
    if (pastEnd(indexPortSSL_, portListSSL_)) {
        logText(kLogError, "Error: server cannot create with all port in list");
        return;
    }
    if (serverSSL_) serverSSL_->stop();
    serverSSL_.reset();
    serverSSLStarted_ = false;

    const auto downloaded = certManager_.activePfxPath();
    auto tls = loadSSLCertificatesFromPath(downloaded.value_or(certManager_.bundledPfxPath()),
                                           CertManager::kPfxPassword);
    if (downloaded && !tls) {
        consoleLine("[SocketService] PFX tải về lỗi, fallback bundle lumen.pfx");
        tls = loadSSLCertificatesFromPath(certManager_.bundledPfxPath(), CertManager::kPfxPassword);
    }
    if (!tls) {
        logText(kLogError, "Error: khong nap duoc SSL certificate");
        return;
    }
    serverSSL_ = std::make_shared<WebSocketServer>(
        context_, kListenAddress, portListSSL_[static_cast<std::size_t>(indexPortSSL_)],
        weak_from_this(), limits_, std::move(tls));
    serverSSL_->start();
}

std::shared_ptr<boost::asio::ssl::context> SocketService::loadSSLCertificatesFromPath(
    const std::filesystem::path& path, const std::string& password) {
    const auto data = File::readFromFileToDataWithURL(path);
    if (!data || data->empty()) return nullptr;
    auto imported = Pkcs12Identity::import(*data, password);
    if (const int* status = std::get_if<int>(&imported)) {
        consoleLine("Error while importing pkcs12 [" + std::to_string(*status) + "]");
        return nullptr;
    }
    auto tls = makeTlsServerContext(std::get<Pkcs12Identity>(imported));
    if (!tls) consoleLine("[SocketService] the PKCS#12 identity cannot serve TLS");
    return tls;
}

void SocketService::reloadSSLCertificate() {
    consoleLine("[SocketService] reload SSL cert (rotate)");
    rotateRetry_ = 0;
    if (!serverSSL_) {
        startServerSSL();
        return;
    }
    rotatingSSL_ = true;
    serverSSL_->stop();
    serverSSL_.reset();
    serverSSLStarted_ = false;
    postDelayed(context_.get_executor(), kRotateRetryDelay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->startServerSSL();
    });
}

std::optional<std::uint16_t> SocketService::plainPort() const {
    if (!server_ || !serverStarted_) return std::nullopt;
    return server_->port();
}

std::optional<std::uint16_t> SocketService::tlsPort() const {
    if (!serverSSL_ || !serverSSLStarted_) return std::nullopt;
    return serverSSL_->port();
}

std::string SocketService::failurePortText() const {
    if (pastEnd(indexPortSSL_, portListSSL_)) return "none";
    return std::to_string(portListSSL_[static_cast<std::size_t>(indexPortSSL_)]);
}

void SocketService::serverDidStart(WebSocketServer& server) {
    const bool tls = &server == serverSSL_.get();
    if (!tls && &server != server_.get()) return;
    (tls ? serverSSLStarted_ : serverStarted_) = true;
    if (tls) {
        rotatingSSL_ = false;
        rotateRetry_ = 0;
    }
    consoleLine("[SocketService] listening on " + std::string(tls ? "wss" : "ws") + "://" +
                kListenAddress + ":" + std::to_string(server.port()));
}

void SocketService::serverDidStop(WebSocketServer&) {
    consoleLine("Server did stop…");
}

void SocketService::serverDidFail(WebSocketServer& server, const boost::system::error_code& error) {
    if (&server != server_.get() && &server != serverSSL_.get()) return;  // replaced meanwhile
    consoleLine("Server websocket did fail on port: " + failurePortText() +
                " with error: " + error.message());
    if (rotatingSSL_ && rotateRetry_ < kMaxRotateRetries) {
        ++rotateRetry_;
        consoleLine("[SocketService] rotate bind fail → retry " + std::to_string(rotateRetry_) +
                    " cùng cổng");
        postDelayed(context_.get_executor(), kRotateRetryDelay, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->startServerSSL();
        });
        return;
    }
    if (rotatingSSL_) {
        consoleLine("[SocketService] rotate retry quá nhiều → fallback đổi cổng");
        rotatingSSL_ = false;
    }
    ++indexPort_;
    ++indexPortSSL_;
    createServer();
}

bool SocketService::shouldAcceptRequest(const std::string& request) {
    consoleLine("Server should accept request: " + request);
    return true;
}

void SocketService::connectionDidOpen(const std::shared_ptr<WebSocketConnection>&) {
    consoleLine("Server websocket did open");
}

void SocketService::connectionDidReceive(const std::shared_ptr<WebSocketConnection>& connection,
                                         WebSocketMessage message, std::function<void()> answered) {
    boost::asio::post(mainQueue_, [&dispatcher = dispatcher_, connection, message = std::move(message),
                                   answered = std::move(answered)]() mutable {
        dispatcher.receive(connection, std::move(message), std::move(answered));
    });
}

// A failing TLS handshake may mean that the browser no longer trusts the certificate served.
void SocketService::connectionDidFail(const std::shared_ptr<WebSocketConnection>&,
                                      const boost::system::error_code& error) {
    consoleLine("Server websocket did fail on port: " + failurePortText() +
                " with error: " + error.message());
    certManager_.triggerImmediateCheck();
}

void SocketService::connectionDidClose(const std::shared_ptr<WebSocketConnection>&, int code,
                                       const std::string& reason, bool wasClean) {
    boost::asio::post(mainQueue_, [&dispatcher = dispatcher_] { dispatcher.connectionClosed(); });
    consoleLine("Server websocket did close with code: " + std::to_string(code) +
                ", reason: " + reason + ", wasClean: " + (wasClean ? "1" : "0"));
}

}  // namespace kv

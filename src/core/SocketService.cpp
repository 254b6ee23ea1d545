#include "core/SocketService.h"

#include "app/Console.h"
#include "app/Log.h"
#include "core/KeyvoraFlow.h"
#include "core/RequestDispatcher.h"
#include "platform/net/WebSocketServer.h"

namespace kv {

SocketService::SocketService(boost::asio::io_context& context, RequestDispatcher& dispatcher,
                             std::vector<std::uint16_t> portList,
                             std::vector<std::uint16_t> portListSSL)
    : context_(context),
      dispatcher_(dispatcher),
      portList_(std::move(portList)),
      portListSSL_(std::move(portListSSL)) {}

SocketService::~SocketService() = default;

void SocketService::createServer() {
    startServer();
}

void SocketService::startServer() {
    if (indexPort_ >= static_cast<std::int32_t>(portList_.size())) {
        logText(kLogError, "Error: server cannot create with all port in list");
        return;
    }
    if (server_) server_->stop();
    serverStarted_ = false;
    server_ = std::make_shared<WebSocketServer>(context_, kListenAddress,
                                                portList_[static_cast<std::size_t>(indexPort_)],
                                                weak_from_this());
    server_->start();
}

std::optional<std::uint16_t> SocketService::plainPort() const {
    if (!server_ || !serverStarted_) return std::nullopt;
    return server_->port();
}

std::string SocketService::failurePortText() const {
    if (indexPortSSL_ >= static_cast<std::int32_t>(portListSSL_.size())) return "none";
    return std::to_string(portListSSL_[static_cast<std::size_t>(indexPortSSL_)]);
}

void SocketService::serverDidStart(WebSocketServer& server) {
    if (&server != server_.get()) return;
    serverStarted_ = true;
    consoleLine("[SocketService] listening on ws://" + std::string(kListenAddress) + ":" +
                std::to_string(server.port()));
}

void SocketService::serverDidStop(WebSocketServer&) {
    consoleLine("Server did stop…");
}

void SocketService::serverDidFail(WebSocketServer& server, const boost::system::error_code& error) {
    if (&server != server_.get()) return;
    consoleLine("Server websocket did fail on port: " + failurePortText() +
                " with error: " + error.message());
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
                                         const WebSocketMessage& message) {
    dispatcher_.receive(connection, message);
}

void SocketService::connectionDidFail(const std::shared_ptr<WebSocketConnection>&,
                                      const boost::system::error_code& error) {
    consoleLine("Server websocket did fail on port: " + failurePortText() +
                " with error: " + error.message());
}

void SocketService::connectionDidClose(const std::shared_ptr<WebSocketConnection>&, int code,
                                       const std::string& reason, bool wasClean) {
    KeyvoraFlow::shared().token.set("");
    consoleLine("Server websocket did close with code: " + std::to_string(code) +
                ", reason: " + reason + ", wasClean: " + (wasClean ? "1" : "0"));
}

}  // namespace kv

#pragma once

#include "platform/net/WebSocketServerDelegate.h"

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kv {

class RequestDispatcher;
class WebSocketServer;

// The service's listeners for the browser. Only the loopback interface is served: the service
// is for the browser on this computer, not for anyone on its network.
class SocketService : public WebSocketServerDelegate,
                      public std::enable_shared_from_this<SocketService> {
public:
    static constexpr const char* kListenAddress = "127.0.0.1";

    SocketService(boost::asio::io_context& context, RequestDispatcher& dispatcher,
                  std::vector<std::uint16_t> portList = {19420, 19421},
                  std::vector<std::uint16_t> portListSSL = {19520, 19521});
    ~SocketService() override;

    void createServer();
    void startServer();
    // The plain port being served, once its server has started.
    std::optional<std::uint16_t> plainPort() const;

    void serverDidStart(WebSocketServer& server) override;
    void serverDidStop(WebSocketServer& server) override;
    void serverDidFail(WebSocketServer& server, const boost::system::error_code& error) override;
    bool shouldAcceptRequest(const std::string& request) override;
    void connectionDidOpen(const std::shared_ptr<WebSocketConnection>& connection) override;
    void connectionDidReceive(const std::shared_ptr<WebSocketConnection>& connection,
                              const WebSocketMessage& message) override;
    void connectionDidFail(const std::shared_ptr<WebSocketConnection>& connection,
                           const boost::system::error_code& error) override;
    void connectionDidClose(const std::shared_ptr<WebSocketConnection>& connection, int code,
                            const std::string& reason, bool wasClean) override;

private:
    std::string failurePortText() const;

    boost::asio::io_context& context_;
    RequestDispatcher& dispatcher_;
    std::shared_ptr<WebSocketServer> server_;
    bool serverStarted_ = false;
    std::vector<std::uint16_t> portList_;
    std::int32_t indexPort_ = 0;
    std::vector<std::uint16_t> portListSSL_;
    std::int32_t indexPortSSL_ = 0;
    bool rotatingSSL_ = false;
    std::int32_t rotateRetry_ = 0;
};

}  // namespace kv

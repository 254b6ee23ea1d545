#pragma once

#include "base/Notification.h"
#include "platform/net/WebSocketLimits.h"
#include "platform/net/WebSocketServerDelegate.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include <filesystem>
#include <string>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kv {

class CertManager;
class RequestDispatcher;
class WebSocketServer;

// The service's listeners for the browser, plain and TLS. Only the loopback interface is served:
// the service is for the browser on this computer, not for anyone on its network. A failure to
// bind moves both to their next ports; a new certificate restarts the TLS listener alone.
// It lives on the network thread (the io_context given): its methods run there, and every
// message is handed to the dispatcher on the main queue.
class SocketService : public WebSocketServerDelegate,
                      public std::enable_shared_from_this<SocketService> {
public:
    static constexpr const char* kListenAddress = "127.0.0.1";

    SocketService(boost::asio::io_context& network, boost::asio::any_io_executor mainQueue,
                  RequestDispatcher& dispatcher, CertManager& certManager,
                  std::vector<std::uint16_t> portList = {19420, 19421},
                  std::vector<std::uint16_t> portListSSL = {19520, 19521}, WebSocketLimits limits = {});
    ~SocketService() override;

    void createServer();
    // Both listeners and their connections closed.
    void stop();
    void startServer();
    void startServerSSL();
    // On KVCertDidUpdateNotification: the TLS listener again, with the new certificate.
    void reloadSSLCertificate();
    // The TLS context of the PKCS#12 file's identity, or nothing (with its console line).
    static std::shared_ptr<boost::asio::ssl::context> loadSSLCertificatesFromPath(
        const std::filesystem::path& path, const std::string& password);

    // The ports being served, once their servers have started.
    std::optional<std::uint16_t> plainPort() const;
    std::optional<std::uint16_t> tlsPort() const;

    void serverDidStart(WebSocketServer& server) override;
    void serverDidStop(WebSocketServer& server) override;
    void serverDidFail(WebSocketServer& server, const boost::system::error_code& error) override;
    bool shouldAcceptRequest(const std::string& request) override;
    void connectionDidOpen(const std::shared_ptr<WebSocketConnection>& connection) override;
    void connectionDidReceive(const std::shared_ptr<WebSocketConnection>& connection, WebSocketMessage message,
                              std::function<void()> answered) override;
    void connectionDidFail(const std::shared_ptr<WebSocketConnection>& connection,
                           const boost::system::error_code& error) override;
    void connectionDidClose(const std::shared_ptr<WebSocketConnection>& connection, int code,
                            const std::string& reason, bool wasClean) override;

private:
    std::string failurePortText() const;

    boost::asio::io_context& context_;
    boost::asio::any_io_executor mainQueue_;
    RequestDispatcher& dispatcher_;
    CertManager& certManager_;
    WebSocketLimits limits_;  // one outgoing budget for the connections of both listeners
    Notification::Subscription certDidUpdate_;
    std::shared_ptr<WebSocketServer> server_;
    std::shared_ptr<WebSocketServer> serverSSL_;
    bool serverStarted_ = false;
    bool serverSSLStarted_ = false;
    std::vector<std::uint16_t> portList_;
    std::int32_t indexPort_ = 0;
    std::vector<std::uint16_t> portListSSL_;
    std::int32_t indexPortSSL_ = 0;
    bool rotatingSSL_ = false;
    std::int32_t rotateRetry_ = 0;
};

}  // namespace kv

#pragma once

#include "platform/net/WebSocketLimits.h"
#include "platform/net/WebSocketServerDelegate.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class WebSocketConnection;

// Listens on one loopback port and turns every accepted socket into a WebSocketSession, over TLS
// when given a TLS context.
// Start and failure are reported to the delegate asynchronously, like every other event.
// The io_context must be run by a single thread.
class WebSocketServer : public std::enable_shared_from_this<WebSocketServer> {
public:
    WebSocketServer(boost::asio::io_context& context, std::string address, std::uint16_t port,
                    std::weak_ptr<WebSocketServerDelegate> delegate, WebSocketLimits limits,
                    std::shared_ptr<boost::asio::ssl::context> tls = nullptr);
    ~WebSocketServer();
    WebSocketServer(const WebSocketServer&) = delete;
    WebSocketServer& operator=(const WebSocketServer&) = delete;

    void start();
    // Closes the listening socket and every connection it accepted.
    void stop();
    std::uint16_t port() const { return port_; }
    bool isTls() const { return tls_ != nullptr; }

private:
    void acceptNext();
    void onAccept(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);
    template <class Stream, class... StreamArguments>
    void startSession(StreamArguments&&... streamArguments);
    template <class Event>
    void report(Event event);

    boost::asio::io_context& context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retryTimer_;
    std::string address_;
    std::uint16_t port_;
    std::weak_ptr<WebSocketServerDelegate> delegate_;
    WebSocketLimits limits_;
    // Sessions made from it keep their own reference to the underlying OpenSSL context.
    std::shared_ptr<boost::asio::ssl::context> tls_;
    std::vector<std::weak_ptr<WebSocketConnection>> sessions_;
    bool running_ = false;
};

}  // namespace kv

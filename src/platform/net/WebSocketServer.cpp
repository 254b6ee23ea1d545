#include "platform/net/WebSocketServer.h"

#include "platform/net/WebSocketSession.h"

#include <boost/asio/post.hpp>

#include <fcntl.h>

#include <algorithm>

namespace kv {

namespace asio = boost::asio;

namespace {

// Asio opens sockets inheritable: a program started from the tray would keep the ports.
void closeOnExec(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

using tcp = asio::ip::tcp;

WebSocketServer::WebSocketServer(asio::io_context& context, std::string address,
                                 std::uint16_t port,
                                 std::weak_ptr<WebSocketServerDelegate> delegate, WebSocketLimits limits,
                                 std::shared_ptr<asio::ssl::context> tls)
    : context_(context),
      acceptor_(context),
      retryTimer_(context),
      address_(std::move(address)),
      port_(port),
      delegate_(std::move(delegate)),
      limits_(std::move(limits)),
      tls_(std::move(tls)) {}

WebSocketServer::~WebSocketServer() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    for (auto& weak : sessions_) {
        if (auto session = weak.lock()) session->close();
    }
}

template <class Event>
void WebSocketServer::report(Event event) {
    asio::post(context_, [self = shared_from_this(), event = std::move(event)] {
        if (auto delegate = self->delegate_.lock()) event(*delegate, *self);
    });
}

void WebSocketServer::start() {
    boost::system::error_code error;
    const tcp::endpoint endpoint(asio::ip::make_address(address_, error), port_);
    if (!error) acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (!error) closeOnExec(acceptor_.native_handle());
    if (error) {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        report([error](WebSocketServerDelegate& d, WebSocketServer& s) { d.serverDidFail(s, error); });
        return;
    }
    running_ = true;
    report([](WebSocketServerDelegate& d, WebSocketServer& s) { d.serverDidStart(s); });
    acceptNext();
}

void WebSocketServer::stop() {
    if (!running_) return;
    running_ = false;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    retryTimer_.cancel();
    for (auto& weak : sessions_) {
        if (auto session = weak.lock()) session->close();
    }
    sessions_.clear();
    report([](WebSocketServerDelegate& d, WebSocketServer& s) { d.serverDidStop(s); });
}

template <class Stream, class... StreamArguments>
void WebSocketServer::startSession(StreamArguments&&... streamArguments) {
    auto session = std::make_shared<WebSocketSession<Stream>>(
        port_, delegate_, limits_, std::forward<StreamArguments>(streamArguments)...);
    sessions_.push_back(session);
    session->run();
}

void WebSocketServer::acceptNext() {
    acceptor_.async_accept(context_,
                           [self = shared_from_this()](const boost::system::error_code& error,
                                                       tcp::socket socket) {
                               self->onAccept(error, std::move(socket));
                           });
}

void WebSocketServer::onAccept(const boost::system::error_code& error, tcp::socket socket) {
    if (!running_ || error == asio::error::operation_aborted) return;
    if (!error) {
        // Answers and note pushes are small and must leave at once, not wait for Nagle.
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        closeOnExec(socket.native_handle());
        std::erase_if(sessions_, [](const auto& weak) { return weak.expired(); });
        if (tls_) {
            startSession<TlsStream>(std::move(socket), *tls_);
        } else {
            startSession<PlainStream>(std::move(socket));
        }
    }
    if (!error) {
        acceptNext();
        return;
    }
    // A failed accept (a peer that reset at once, out of file descriptors) ends that socket only;
    // the pause keeps a persistent failure from spinning the loop.
    retryTimer_.expires_after(std::chrono::milliseconds(50));
    retryTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec && self->running_) self->acceptNext();
    });
}

}  // namespace kv

#pragma once

#include "platform/net/WebSocketConnection.h"
#include "platform/net/WebSocketLimits.h"
#include "platform/net/WebSocketServerDelegate.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace kv {

using PlainStream = boost::beast::tcp_stream;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

// One accepted connection, plain or TLS: (TLS handshake,) reads the upgrade request, accepts
// it, then reads messages one at a time: the next only once the delegate answered the last. A
// peer that sends faster than the service answers holds no memory for it, and one that
// half-closes gets every answer (the stream refuses writes once a read has failed).
// The io_context is run by one thread, which serializes every step; send() and close() run
// there, so they are safe from any thread. A message leaves the outgoing queue only when its
// write has completed: a write in flight always points at live memory.
template <class Stream>
class WebSocketSession : public WebSocketConnection,
                         public std::enable_shared_from_this<WebSocketSession<Stream>> {
public:
    // streamArguments: the socket, and for TLS the server's context.
    template <class... StreamArguments>
    WebSocketSession(std::uint16_t port, std::weak_ptr<WebSocketServerDelegate> delegate,
                     WebSocketLimits limits, StreamArguments&&... streamArguments)
        : ws_(std::forward<StreamArguments>(streamArguments)...),
          writeDeadline_(ws_.get_executor()),
          port_(port),
          delegate_(std::move(delegate)),
          limits_(std::move(limits)) {}
    ~WebSocketSession() override { limits_.budget->give(queuedBytes_); }

    void run();
    void send(std::string text) override;
    void close() override;
    std::uint16_t localPort() const override { return port_; }

private:
    void readRequest();
    void onRequest(const boost::system::error_code& error);
    void onAccept(const boost::system::error_code& error);
    void readNext();
    void onRead(const boost::system::error_code& error);
    void writeNext();
    void onWrite(const boost::system::error_code& error);
    // Ends the connection at the TCP layer, at once, whatever is queued or in flight.
    void abort();
    void dropQueued(std::size_t keep);
    void fail(const boost::system::error_code& error);
    void finish(const boost::system::error_code& error);
    std::shared_ptr<WebSocketServerDelegate> delegate() const { return delegate_.lock(); }

    boost::beast::websocket::stream<Stream> ws_;
    boost::asio::steady_timer writeDeadline_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    std::uint16_t port_;
    std::weak_ptr<WebSocketServerDelegate> delegate_;
    WebSocketLimits limits_;

    std::deque<std::string> outgoing_;
    std::size_t queuedBytes_ = 0;
    bool open_ = false;  // accepted
    bool readEnded_ = false;
    bool closing_ = false;
};

extern template class WebSocketSession<PlainStream>;
extern template class WebSocketSession<TlsStream>;

}  // namespace kv

#include "platform/net/WebSocketSession.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/websocket/error.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <chrono>
#include <sstream>
#include <type_traits>

namespace kv {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {
constexpr auto kHandshakeTimeout = std::chrono::seconds(30);
constexpr std::uint32_t kMaxRequestHeaderBytes = 16 * 1024;
}  // namespace

template <class Stream>
void WebSocketSession<Stream>::run() {
    boost::asio::dispatch(ws_.get_executor(), [self = this->shared_from_this()] {
        beast::get_lowest_layer(self->ws_).expires_after(kHandshakeTimeout);
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            self->ws_.next_layer().async_handshake(
                boost::asio::ssl::stream_base::server,
                [self](const boost::system::error_code& error) {
                    if (error) {
                        self->fail(error);
                        return;
                    }
                    self->readRequest();
                });
        } else {
            self->readRequest();
        }
    });
}

template <class Stream>
void WebSocketSession<Stream>::readRequest() {
    parser_.emplace();
    parser_->header_limit(kMaxRequestHeaderBytes);
    parser_->body_limit(0);
    http::async_read(ws_.next_layer(), buffer_, *parser_,
                     [self = this->shared_from_this()](const boost::system::error_code& error, std::size_t) {
                         self->onRequest(error);
                     });
}

template <class Stream>
void WebSocketSession<Stream>::onRequest(const boost::system::error_code& error) {
    auto observer = delegate();
    if (error || !observer) {
        fail(error);
        return;
    }
    std::ostringstream text;
    text << parser_->get().base();
    if (!observer->shouldAcceptRequest(text.str())) return;

    beast::get_lowest_layer(ws_).expires_never();
    // No idle timeout: re-arming it costs a system call on every read, and the web application
    // keeps the connection alive itself.
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = kHandshakeTimeout;
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;
    ws_.set_option(timeouts);
    ws_.read_message_max(limits_.maxMessageBytes);
    ws_.async_accept(parser_->release(),
                     [self = this->shared_from_this()](const boost::system::error_code& acceptError) {
                         self->onAccept(acceptError);
                     });
}

template <class Stream>
void WebSocketSession<Stream>::onAccept(const boost::system::error_code& error) {
    if (error) {
        fail(error);
        return;
    }
    auto observer = delegate();
    if (!observer) return;
    open_ = true;
    observer->connectionDidOpen(this->shared_from_this());
    readNext();
}

// A connection that ends before it opened: reported as a failure only.
template <class Stream>
void WebSocketSession<Stream>::fail(const boost::system::error_code& error) {
    if (auto observer = delegate()) observer->connectionDidFail(this->shared_from_this(), error);
}

template <class Stream>
void WebSocketSession<Stream>::readNext() {
    if (!open_ || readEnded_) return;
    ws_.async_read(buffer_, [self = this->shared_from_this()](const boost::system::error_code& error,
                                                              std::size_t) { self->onRead(error); });
}

template <class Stream>
void WebSocketSession<Stream>::onRead(const boost::system::error_code& error) {
    if (error) {
        finish(error);
        return;
    }
    WebSocketMessage message{beast::buffers_to_string(buffer_.data()), ws_.got_text()};
    buffer_.consume(buffer_.size());
    auto observer = delegate();
    if (!observer) return;
    observer->connectionDidReceive(this->shared_from_this(), std::move(message), [self = this->shared_from_this()] {
        boost::asio::post(self->ws_.get_executor(), [self] { self->readNext(); });
    });
}

// Writing goes on: a peer that only half-closed still reads the answers to what it sent (the
// write deadline ends a peer that does not).
template <class Stream>
void WebSocketSession<Stream>::finish(const boost::system::error_code& error) {
    const bool wasClean = error == websocket::error::closed;
    readEnded_ = true;
    auto observer = delegate();
    if (!observer) return;
    auto self = this->shared_from_this();
    if (!wasClean) observer->connectionDidFail(self, error);
    const auto& reason = ws_.reason();
    observer->connectionDidClose(self, static_cast<int>(reason.code),
                                 std::string(reason.reason.data(), reason.reason.size()), wasClean);
}

// On the loop's own thread (an answer) the frame starts at once; from another thread (a push) it
// is posted there.
template <class Stream>
void WebSocketSession<Stream>::send(std::string text) {
    boost::asio::dispatch(ws_.get_executor(),
                      [self = this->shared_from_this(), text = std::move(text)]() mutable {
                          if (!self->open_ || self->closing_) return;
                          if (self->queuedBytes_ + text.size() > self->limits_.maxQueuedBytes ||
                              !self->limits_.budget->take(text.size())) {
                              self->abort();
                              return;
                          }
                          self->queuedBytes_ += text.size();
                          self->outgoing_.push_back(std::move(text));
                          if (self->outgoing_.size() == 1) self->writeNext();
                      });
}

template <class Stream>
void WebSocketSession<Stream>::writeNext() {
    writeDeadline_.expires_after(limits_.writeTimeout);
    writeDeadline_.async_wait([self = this->shared_from_this()](const boost::system::error_code& error) {
        if (!error) self->abort();
    });
    ws_.text(true);
    ws_.async_write(boost::asio::buffer(outgoing_.front()),
                    [self = this->shared_from_this()](const boost::system::error_code& error,
                                                      std::size_t) { self->onWrite(error); });
}

// A failed write also fails the pending read, which reports the connection's end.
template <class Stream>
void WebSocketSession<Stream>::onWrite(const boost::system::error_code& error) {
    const std::size_t written = outgoing_.front().size();
    queuedBytes_ -= written;
    limits_.budget->give(written);
    outgoing_.pop_front();
    if (error) {
        dropQueued(0);
        return;
    }
    if (outgoing_.empty()) {
        writeDeadline_.cancel();
        return;
    }
    writeNext();
}

// The session may outlive its connection (the last connection to ask is remembered): what it
// queued goes back to the budget at once.
template <class Stream>
void WebSocketSession<Stream>::dropQueued(std::size_t keep) {
    while (outgoing_.size() > keep) {
        queuedBytes_ -= outgoing_.back().size();
        limits_.budget->give(outgoing_.back().size());
        outgoing_.pop_back();
    }
}

// A write in flight keeps the front of the queue until it completes.
template <class Stream>
void WebSocketSession<Stream>::abort() {
    closing_ = true;
    dropQueued(outgoing_.empty() ? 0 : 1);
    writeDeadline_.cancel();
    boost::system::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).close();
}

// A connection with writes waiting may have a peer that no longer reads: a closing handshake
// would only queue behind them, so it ends at once.
template <class Stream>
void WebSocketSession<Stream>::close() {
    boost::asio::post(ws_.get_executor(), [self = this->shared_from_this()] {
        if (self->closing_) return;
        if (!self->open_ || !self->outgoing_.empty()) {
            self->abort();
            return;
        }
        self->closing_ = true;
        self->ws_.async_close(websocket::close_code::going_away,
                              [self](const boost::system::error_code&) {});
    });
}

template class WebSocketSession<PlainStream>;
template class WebSocketSession<TlsStream>;

}  // namespace kv

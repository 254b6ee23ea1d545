#include "support/WsClient.h"

#include "platform/crypto/Sha256.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <vector>

namespace kv::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

WsClient::WsClient(std::uint16_t port, const std::string& host)
    : ws_(std::make_unique<Plain>(context_)) {
    auto& ws = *std::get<std::unique_ptr<Plain>>(ws_);
    beast::get_lowest_layer(ws).connect(tcp::endpoint(asio::ip::make_address(host), port));
    // As a browser does: a message's last segment leaves without waiting for an acknowledgement.
    beast::get_lowest_layer(ws).socket().set_option(tcp::no_delay(true));
    ws.handshake(host + ":" + std::to_string(port), "/");
    ws.read_message_max(64 * 1024 * 1024);
}

WsClient::WsClient(std::uint16_t port, const TlsTrust& trust)
    : tls_(std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client)) {
    tls_->add_certificate_authority(asio::buffer(trust.certificatePem));
    tls_->set_verify_mode(asio::ssl::verify_peer);
    tls_->set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
    ws_ = std::make_unique<Tls>(context_, *tls_);
    auto& ws = *std::get<std::unique_ptr<Tls>>(ws_);
    beast::get_lowest_layer(ws).connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    beast::get_lowest_layer(ws).socket().set_option(tcp::no_delay(true));
    ws.next_layer().handshake(asio::ssl::stream_base::client);
    ws.handshake("127.0.0.1:" + std::to_string(port), "/");
}

WsClient::~WsClient() {
    boost::system::error_code ignored;
    tcp().socket().close(ignored);
}

beast::tcp_stream& WsClient::tcp() {
    return std::visit([](auto& ws) -> beast::tcp_stream& { return beast::get_lowest_layer(*ws); }, ws_);
}

void WsClient::sendText(const std::string& text) {
    std::visit([&](auto& ws) {
        ws->text(true);
        ws->write(asio::buffer(text));
    }, ws_);
}

void WsClient::sendBinary(const std::string& bytes) {
    std::visit([&](auto& ws) {
        ws->binary(true);
        ws->write(asio::buffer(bytes));
    }, ws_);
}

std::optional<std::string> WsClient::receive(std::chrono::milliseconds timeout) {
    std::optional<std::string> message;
    bool done = false;
    std::visit([&](auto& ws) {
        ws->async_read(buffer_, [&](const boost::system::error_code& error, std::size_t) {
            done = true;
            if (error) return;
            message = beast::buffers_to_string(buffer_.data());
            buffer_.consume(buffer_.size());
        });
    }, ws_);
    context_.restart();
    context_.run_for(timeout);
    if (!done) {
        // Nothing came: drop the connection, since the pending read cannot be taken back.
        tcp().socket().close();
        context_.restart();
        context_.run();
    }
    return message;
}

int WsClient::closeCode() const {
    return std::visit([](const auto& ws) { return static_cast<int>(ws->reason().code); }, ws_);
}

void WsClient::close() {
    std::visit([](auto& ws) { ws->close(beast::websocket::close_code::normal); }, ws_);
}

std::string WsClient::peerFingerprint() {
    auto* ws = std::get_if<std::unique_ptr<Tls>>(&ws_);
    if (!ws) return {};
    X509* certificate = SSL_get1_peer_certificate((*ws)->next_layer().native_handle());
    if (!certificate) return {};
    const int length = i2d_X509(certificate, nullptr);
    std::vector<std::uint8_t> der(static_cast<std::size_t>(std::max(length, 0)));
    unsigned char* cursor = der.data();
    i2d_X509(certificate, &cursor);
    X509_free(certificate);
    return sha256Hex(der);
}

bool portAcceptsConnections(std::uint16_t port) {
    asio::io_context context;
    tcp::socket socket(context);
    boost::system::error_code error;
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), error);
    return !error;
}

}  // namespace kv::test

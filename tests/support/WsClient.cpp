#include "support/WsClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>

namespace kv::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

WsClient::WsClient(std::uint16_t port, const std::string& host) : ws_(context_) {
    beast::get_lowest_layer(ws_).connect(tcp::endpoint(asio::ip::make_address(host), port));
    ws_.handshake(host + ":" + std::to_string(port), "/");
    ws_.read_message_max(64 * 1024 * 1024);
}

WsClient::~WsClient() {
    boost::system::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
}

void WsClient::sendText(const std::string& text) {
    ws_.text(true);
    ws_.write(asio::buffer(text));
}

void WsClient::sendBinary(const std::string& bytes) {
    ws_.binary(true);
    ws_.write(asio::buffer(bytes));
}

std::optional<std::string> WsClient::receive(std::chrono::milliseconds timeout) {
    std::optional<std::string> message;
    bool done = false;
    ws_.async_read(buffer_, [&](const boost::system::error_code& error, std::size_t) {
        done = true;
        if (error) return;
        message = beast::buffers_to_string(buffer_.data());
        buffer_.consume(buffer_.size());
    });
    context_.restart();
    context_.run_for(timeout);
    if (!done) {
        // Nothing came: drop the connection, since the pending read cannot be taken back.
        beast::get_lowest_layer(ws_).socket().close();
        context_.restart();
        context_.run();
    }
    return message;
}

int WsClient::closeCode() const {
    return static_cast<int>(ws_.reason().code);
}

void WsClient::close() {
    ws_.close(beast::websocket::close_code::normal);
}

bool portAcceptsConnections(std::uint16_t port) {
    asio::io_context context;
    tcp::socket socket(context);
    boost::system::error_code error;
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), error);
    return !error;
}

}  // namespace kv::test

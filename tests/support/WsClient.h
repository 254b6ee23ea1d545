#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace kv::test {

// A blocking WebSocket client for tests and benchmarks.
class WsClient {
public:
    explicit WsClient(std::uint16_t port, const std::string& host = "127.0.0.1");
    ~WsClient();

    void sendText(const std::string& text);
    void sendBinary(const std::string& bytes);
    // The next message, or nothing when the connection ends or nothing comes within the timeout.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The close code the server sent, after receive() reported the end of the connection.
    int closeCode() const;
    void close();

private:
    boost::asio::io_context context_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    boost::beast::flat_buffer buffer_;
};

// True when a TCP connection to the port on loopback succeeds.
bool portAcceptsConnections(std::uint16_t port);

}  // namespace kv::test

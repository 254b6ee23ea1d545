#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace kv::test {

// A blocking WebSocket client for tests and benchmarks, plain or over TLS.
class WsClient {
public:
    explicit WsClient(std::uint16_t port, const std::string& host = "127.0.0.1");
    // Over TLS, trusting only this certificate, for the host 127.0.0.1.
    struct TlsTrust {
        std::string certificatePem;
    };
    WsClient(std::uint16_t port, const TlsTrust& trust);
    ~WsClient();

    void sendText(const std::string& text);
    void sendBinary(const std::string& bytes);
    // The next message, or nothing when the connection ends or nothing comes within the timeout.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The close code the server sent, after receive() reported the end of the connection.
    int closeCode() const;
    void close();
    // SHA-256 of the DER certificate the TLS server presented, lower-case hexadecimal.
    std::string peerFingerprint();

private:
    using Plain = boost::beast::websocket::stream<boost::beast::tcp_stream>;
    using Tls = boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

    boost::beast::tcp_stream& tcp();

    boost::asio::io_context context_;
    std::unique_ptr<boost::asio::ssl::context> tls_;
    std::variant<std::unique_ptr<Plain>, std::unique_ptr<Tls>> ws_;
    boost::beast::flat_buffer buffer_;
};

// True when a TCP connection to the port on loopback succeeds.
bool portAcceptsConnections(std::uint16_t port);

}  // namespace kv::test

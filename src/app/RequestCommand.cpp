#include "app/RequestCommand.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include <optional>

namespace kv {

namespace {

namespace websocket = boost::beast::websocket;
using boost::asio::ip::tcp;

// Blocking reads and writes that give up after the timeout: the socket's own time limits.
void limitWaits(tcp::socket& socket, std::chrono::seconds timeout) {
    const timeval limit{static_cast<time_t>(timeout.count()), 0};
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// The answer is the first message of the request's method; pushes before it are skipped.
std::optional<std::string> exchange(std::uint16_t port, const nlohmann::json& request, std::chrono::seconds timeout) {
    boost::asio::io_context context;
    websocket::stream<tcp::socket> stream(context);
    boost::system::error_code error;
    stream.next_layer().connect({boost::asio::ip::make_address("127.0.0.1"), port}, error);
    if (error) return std::nullopt;
    limitWaits(stream.next_layer(), timeout);
    stream.handshake("127.0.0.1:" + std::to_string(port), "/", error);
    if (error) return std::nullopt;
    stream.write(boost::asio::buffer(request.dump()), error);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!error && std::chrono::steady_clock::now() < deadline) {
        boost::beast::flat_buffer buffer;
        stream.read(buffer, error);
        if (error) break;
        std::string text = boost::beast::buffers_to_string(buffer.data());
        const auto answer = nlohmann::json::parse(text, nullptr, false);
        if (!answer.is_object() || !request.contains("methodName") || answer.value("methodName", nlohmann::json()) == request["methodName"]) {
            return text;
        }
    }
    return std::nullopt;
}

}  // namespace

int RequestCommand::run(const std::string& request, std::ostream& out, std::ostream& error) const {
    const auto parsed = nlohmann::json::parse(request, nullptr, false);
    if (!parsed.is_object()) {
        error << "kvplugin: the request is not a JSON object\n";
        return 2;
    }
    for (const std::uint16_t port : ports_) {
        if (const auto answer = exchange(port, parsed, timeout_)) {
            out << *answer << '\n';
            return 0;
        }
    }
    error << "kvplugin: no answer from the service on ws://127.0.0.1";
    for (const std::uint16_t port : ports_) error << (port == ports_.front() ? ":" : " or :") << port;
    error << " within " << timeout_.count() << " s\n";
    return 1;
}

}  // namespace kv

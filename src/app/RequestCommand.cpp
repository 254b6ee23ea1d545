#include "app/RequestCommand.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <functional>
#include <optional>

namespace kv {

namespace {

namespace websocket = boost::beast::websocket;
using boost::asio::ip::tcp;

using Clock = std::chrono::steady_clock;

bool isAnswerTo(const nlohmann::json& request, const std::string& text) {
    const auto answer = nlohmann::json::parse(text, nullptr, false);
    return !answer.is_object() || !request.contains("methodName") || answer.value("methodName", nlohmann::json()) == request["methodName"];
}

// Asynchronous steps under one expiry: a port that takes the connection and never answers is left
// at the deadline, whichever step it stalls (blocking calls with socket time limits would not be).
// The answer is the first message of the request's method; pushes before it are skipped.
std::optional<std::string> exchange(std::uint16_t port, const nlohmann::json& request, Clock::time_point deadline) {
    boost::asio::io_context context;
    websocket::stream<boost::beast::tcp_stream> stream(context);
    stream.next_layer().expires_at(deadline);
    const std::string text = request.dump();
    boost::beast::flat_buffer buffer;
    std::optional<std::string> answer;
    std::function<void()> readNext = [&] {
        buffer.clear();
        stream.async_read(buffer, [&](boost::system::error_code error, std::size_t) {
            if (error) return;
            std::string message = boost::beast::buffers_to_string(buffer.data());
            if (!isAnswerTo(request, message)) return readNext();
            answer = std::move(message);
        });
    };
    stream.next_layer().async_connect({boost::asio::ip::make_address("127.0.0.1"), port}, [&](boost::system::error_code error) {
        if (error) return;
        stream.async_handshake("127.0.0.1:" + std::to_string(port), "/", [&](boost::system::error_code error) {
            if (error) return;
            stream.async_write(boost::asio::buffer(text), [&](boost::system::error_code error, std::size_t) {
                if (!error) readNext();
            });
        });
    });
    context.run();
    return answer;
}

}  // namespace

int RequestCommand::run(const std::string& request, std::ostream& out, std::ostream& error) const {
    const auto parsed = nlohmann::json::parse(request, nullptr, false);
    if (!parsed.is_object()) {
        error << "kvplugin: the request is not a JSON object\n";
        return 2;
    }
    const auto deadline = Clock::now() + timeout_;
    for (const std::uint16_t port : ports_) {
        if (const auto answer = exchange(port, parsed, deadline)) {
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

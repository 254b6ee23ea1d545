// Round trips of one request over one WebSocket connection, one at a time:
//   kv_ws_roundtrip [--tls <trusted certificate PEM>] [--message-file <file>] <port> <count> [message]
// Prints "p50_us p99_us requests_per_second".
//   kv_ws_roundtrip --tls <PEM> --handshakes <port> <count>
// Prints "p50_us p99_us" of opening a connection: TCP, TLS and WebSocket handshakes.
//   kv_ws_roundtrip --pings-while-blocked <port> <count>
// One connection asks for the latency flow, which holds the main queue for about 10 s; meanwhile
// another sends WebSocket pings. Prints "p50_us p99_us max_us" of ping → pong.
#include "support/RawWsPeer.h"
#include "support/WsClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

double quantile(std::vector<double>& values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

int pingsWhileBlocked(std::uint16_t port, int count) {
    kv::test::WsClient blocker(port);
    blocker.sendText(R"({"methodName":15,"functionId":"block"})");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kv::test::RawWsPeer peer(port);
    if (!peer.upgraded()) return 1;
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto sent = Clock::now();
        if (!peer.sendPing("p") || !peer.receivePong(std::chrono::seconds(15))) return 1;
        samples.push_back(micros(Clock::now() - sent));
    }
    std::printf("%.1f %.1f %.1f\n", quantile(samples, 0.50), quantile(samples, 0.99), quantile(samples, 1.0));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string trustedPem;
    std::string messageFromFile;
    bool handshakes = false;
    bool pings = false;
    while (!arguments.empty() && arguments.front().starts_with("--")) {
        if (arguments.front() == "--pings-while-blocked") {
            pings = true;
            arguments.erase(arguments.begin());
        } else if (arguments.front() == "--handshakes") {
            handshakes = true;
            arguments.erase(arguments.begin());
        } else if (arguments.front() == "--message-file" && arguments.size() > 1) {
            std::ifstream file(arguments[1]);
            std::stringstream text;
            text << file.rdbuf();
            messageFromFile = text.str();
            arguments.erase(arguments.begin(), arguments.begin() + 2);
        } else if (arguments.front() == "--tls" && arguments.size() > 1) {
            std::ifstream file(arguments[1]);
            std::stringstream text;
            text << file.rdbuf();
            trustedPem = text.str();
            arguments.erase(arguments.begin(), arguments.begin() + 2);
        } else {
            break;
        }
    }
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: %s [--tls <pem>] [--handshakes | --pings-while-blocked] <port> <count> [message]\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::stoi(arguments[0]));
    const int count = std::stoi(arguments[1]);
    if (pings) return pingsWhileBlocked(port, count);
    const std::string message = !messageFromFile.empty() ? messageFromFile
                                : arguments.size() > 2  ? arguments[2]
                                                        : R"({"methodName":1,"functionId":"f1"})";
    auto connect = [&] {
        return trustedPem.empty() ? std::make_unique<kv::test::WsClient>(port)
                                  : std::make_unique<kv::test::WsClient>(port, kv::test::WsClient::TlsTrust{trustedPem});
    };

    std::vector<double> samples;
    if (handshakes) {
        for (int i = 0; i < count; ++i) {
            const auto started = Clock::now();
            auto client = connect();
            samples.push_back(micros(Clock::now() - started));
        }
        std::printf("%.1f %.1f\n", quantile(samples, 0.50), quantile(samples, 0.99));
        return 0;
    }

    auto client = connect();
    for (int i = 0; i < std::min(200, count); ++i) {  // warm up
        client->sendText(message);
        if (!client->receive()) return 1;
    }
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto sent = Clock::now();
        client->sendText(message);
        if (!client->receive()) return 1;
        samples.push_back(micros(Clock::now() - sent));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double p50 = quantile(samples, 0.50);
    const double p99 = quantile(samples, 0.99);
    std::printf("%.1f %.1f %.0f\n", p50, p99, count / seconds);
    return 0;
}

// Round trips of one request over one WebSocket connection, one at a time:
//   kv_ws_roundtrip <port> <count> [message]
// Prints "p50_us p99_us requests_per_second".
#include "support/WsClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <port> <count> [message]\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::stoi(argv[1]));
    const int count = std::stoi(argv[2]);
    const std::string message = argc > 3 ? argv[3] : R"({"methodName":1,"functionId":"f1"})";
    using Clock = std::chrono::steady_clock;

    kv::test::WsClient client(port);
    for (int i = 0; i < 200; ++i) {  // warm up
        client.sendText(message);
        if (!client.receive()) return 1;
    }
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(count));
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto sent = Clock::now();
        client.sendText(message);
        if (!client.receive()) return 1;
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<std::size_t>(q * (micros.size() - 1))]; };
    std::printf("%.1f %.1f %.0f\n", at(0.50), at(0.99), count / seconds);
    return 0;
}

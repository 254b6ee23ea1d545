#include "app/AllFlows.h"
#include "base/SharedObject.h"
#include "core/KeyvoraFlow.h"
#include "core/RequestDispatcher.h"
#include "leds/KVLedScheduler.h"
#include "platform/net/WebSocketConnection.h"

#include <benchmark/benchmark.h>

namespace kv {
namespace {

class CapturingConnection : public WebSocketConnection {
public:
    void send(std::string text) override { last = std::move(text); }
    void close() override {}
    std::uint16_t localPort() const override { return 0; }
    std::string last;
};

// Parse, dispatch, run the flow, compose and serialize: the whole receive path but the socket.
void BM_ReceivePath(benchmark::State& state, const char* message) {
    SharedObject<KeyvoraFlow> session;  // what the service owns; these two flows need nothing more
    const FlowTable flows = makeAllFlows();
    RequestDispatcher dispatcher(flows, *session);
    auto connection = std::make_shared<CapturingConnection>();
    const WebSocketMessage request{message, true};
    for (auto _ : state) {
        dispatcher.receive(connection, request);
        benchmark::DoNotOptimize(connection->last.data());
    }
}

BENCHMARK_CAPTURE(BM_ReceivePath, ping,
                  R"({"methodName":1,"functionId":"f1","clientID":"1234","clientSecret":"s",)"
                  R"("token":"abcdef0123456789","requestDate":"2026-12-06T10:00:00",)"
                  R"("localRequestDate":"2026-12-06T17:00:00","timezoneOffset":-420,)"
                  R"("version":"nextgen/web","data":{}})");
BENCHMARK_CAPTURE(BM_ReceivePath, save_token,
                  R"({"methodName":45,"functionId":"f2","clientID":"1234","data":{"token":"abc"}})");

// A light plan of 100,000 entries, as a lesson's whole score would send it.
void BM_LedPlanParse(benchmark::State& state) {
    nlohmann::json ledNotes = nlohmann::json::array();
    for (int i = 0; i < 100000; ++i) {
        ledNotes.push_back({{"note", 21 + i % 88}, {"staff", i % 2}, {"flashFrom", i}, {"time", i + 10}, {"offTime", i + 20}});
    }
    for (auto _ : state) benchmark::DoNotOptimize(KVLedScheduler::parsePlan(ledNotes).size());
}
BENCHMARK(BM_LedPlanParse)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv

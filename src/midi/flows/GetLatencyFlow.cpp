#include "midi/flows/GetLatencyFlow.h"

#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "playback/SongObject.h"

#include <chrono>
#include <thread>

namespace {
constexpr long kLongestWaitSeconds = 11;
}  // namespace

namespace kv {

nlohmann::json GetLatencyFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    using namespace std::chrono;
    const auto wholeSeconds = [] { return duration_cast<seconds>(system_clock::now().time_since_epoch()).count(); };
    const auto start = wholeSeconds();
    while (KeyvoraFlow::shared().APP_STATE != KeyvoraFlow::kSongPlaying) {
        if (wholeSeconds() - start >= kLongestWaitSeconds) break;
        std::this_thread::sleep_for(milliseconds(100));
    }
    logText(kLogDebug, "Get Latency break....");
    return {{"latency", SongObject::shared().latency.load()}, {"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv

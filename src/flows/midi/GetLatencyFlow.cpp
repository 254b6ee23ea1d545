#include "flows/midi/GetLatencyFlow.h"

#include "base/Log.h"
#include "playback/PlayLifecycle.h"
#include "playback/SongObject.h"

namespace kv {

namespace {
constexpr auto kLongestWait = std::chrono::seconds(11);
}  // namespace

void GetLatencyFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&, Answer answer) {
    PlayLifecycle::shared().whenSongPlays(kLongestWait, [answer = std::move(answer)] {
        logText(kLogDebug, "Get Latency break....");
        answer({{"latency", SongObject::shared().latency.load()}, {"code", 0}, {"message", "SUCCESS"}});
    });
}

}  // namespace kv

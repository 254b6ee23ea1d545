#include "flows/playback/StopPlayMidiFlow.h"

#include "playback/PlayLifecycle.h"

namespace kv {

void StopPlayMidiFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&, Answer answer) {
    PlayLifecycle::shared().stop(std::move(answer));
}

}  // namespace kv

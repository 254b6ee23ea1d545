#include "flows/playback/PlayMidiSongFlow.h"

#include "playback/PlayLifecycle.h"

namespace kv {

void PlayMidiSongFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject& request,
                                   Answer answer) {
    PlayLifecycle::shared().play(request, std::move(answer));
}

}  // namespace kv

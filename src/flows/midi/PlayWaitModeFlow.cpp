#include "flows/midi/PlayWaitModeFlow.h"

#include "core/KeyvoraFlow.h"
#include "playback/PlayLifecycle.h"
#include "playback/SongObject.h"


namespace kv {

nlohmann::json PlayWaitModeFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    PlayLifecycle::shared().endForMode();
    auto& session = KeyvoraFlow::shared();
    session.baseTime.set(Instant::now());
    session.APP_STATE = KeyvoraFlow::kWaitMode;
    SongObject::shared().stopPlaySong();
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv

#include "flows/playback/GetAllSettingVolumeFlow.h"

#include "core/KeyvoraFlow.h"
#include "playback/SongObject.h"

namespace kv {

nlohmann::json GetAllSettingVolumeFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    const auto& song = SongObject::shared();
    const auto user = KeyvoraFlow::shared().currentUser.get();
    return {{"accompanimentVolume", song.volume.load()},
            {"instrumentVolume", song.instrumentVolume.load()},
            {"metronomeVolume", song.metronomeVolume.load()},
            {"countOffVolume", song.countOffVolume.load()},
            {"virtualPianoSoundVolume", user ? user->speakerPcVelocity : 0}};
}

}  // namespace kv

#include "flows/playback/SaveAccompanimentVolumeFlow.h"

#include "base/JsonReading.h"
#include "playback/SongObject.h"
#include "stems/StemsPlayer.h"

#include <algorithm>

namespace kv {

nlohmann::json SaveAccompanimentVolumeFlow::processData(const nlohmann::json& requestData, const std::string&,
                                                        const BaseRequestJSONObject&) {
    bool used = false;
    auto& song = SongObject::shared();
    if (const auto volume = json_reading::readInt32(requestData, "accompanimentVolume")) {
        if (*volume < 0) return {{"message", "The volume cannot be negative"}, {"code", -1}};
        song.volume = std::min(*volume, 100);
        StemsPlayer::shared().setMasterVolume(static_cast<float>(song.volume / 100.0));
        used = true;
    }
    const auto channels = requestData.find("instrumentVolumes");
    if (channels != requestData.end() && channels->is_array()) {
        const auto synthesizers = song.audioGraphCollection.get();
        for (const auto& entry : *channels) {
            if (!entry.is_object()) continue;
            const std::int32_t channel = json_reading::readInt32(entry, "channel").value_or(-1);
            const auto synthesizer = synthesizers.find(channel);
            if (channel < 0 || channel >= 16 || synthesizer == synthesizers.end()) continue;
            synthesizer->second->setInstrumentVolume(std::clamp(json_reading::readInt32(entry, "volume").value_or(0), 0, 100));
        }
        used = true;
    }
    const auto stems = requestData.find("audioVolumes");
    if (stems != requestData.end() && stems->is_array()) {
        for (const auto& entry : *stems) {
            if (!entry.is_object()) continue;
            const auto volume = std::clamp(json_reading::readInt32(entry, "volume").value_or(0), 0, 100);
            const auto id = entry.find("instrumentId");
            const std::int64_t instrument = id != entry.end() ? json_reading::toInt64(*id) : 0;
            StemsPlayer::shared().setVolumeForInstrumentId(static_cast<float>(volume / 100.0), instrument);
        }
        used = true;
    }
    if (!used) return {{"message", "No volume data"}, {"code", -1}};
    return {{"message", "SUCCESS"}, {"code", 0}};
}

}  // namespace kv

#include "flows/playback/SaveMetronomeVolumeFlow.h"

#include "base/JsonReading.h"
#include "playback/Metronome.h"
#include "playback/SongObject.h"

namespace kv {

nlohmann::json SaveMetronomeVolumeFlow::processData(const nlohmann::json& requestData, const std::string&, const BaseRequestJSONObject&) {
    const auto volume = json_reading::readInt32(requestData, "metronomeVolume").value_or(0);
    if (volume < 0) return {{"message", "The volume cannot be negative"}, {"code", -1}};
    SongObject::shared().metronomeVolume = volume;
    Metronome::shared().setVolume(static_cast<float>(volume / 100.0));
    return {{"message", "SUCCESS"}, {"code", 0}};
}

}  // namespace kv

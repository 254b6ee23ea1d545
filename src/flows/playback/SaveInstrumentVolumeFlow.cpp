#include "flows/playback/SaveInstrumentVolumeFlow.h"

#include "base/JsonReading.h"
#include "playback/SongObject.h"

namespace kv {

nlohmann::json SaveInstrumentVolumeFlow::processData(const nlohmann::json& requestData, const std::string&, const BaseRequestJSONObject&) {
    const auto volume = json_reading::readInt32(requestData, "instrumentVolume").value_or(0);
    if (volume < 0) return {{"message", "The volume cannot be negative"}, {"code", -1}};
    SongObject::shared().instrumentVolume = volume;
    return {{"message", "SUCCESS"}, {"code", 0}};
}

}  // namespace kv

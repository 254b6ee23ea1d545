#include "playback/flows/PreparePlayingDataFlow.h"

#include "base/Log.h"
#include "base/Numbers.h"
#include "core/KeyvoraFlow.h"
#include "playback/PrepareSongData.h"
#include "playback/SongObject.h"

namespace kv {

// A failed preparation is answered as one, with its reason: the browser learns of it now, not
// from a silent play.
nlohmann::json PreparePlayingDataFlow::processData(const nlohmann::json&, const std::string&,
                                                   const BaseRequestJSONObject& request) {
    auto& session = KeyvoraFlow::shared();
    try {
        if (session.APP_STATE != KeyvoraFlow::kIdle && !session.isStopMusic) {
            return {{"message", "THE DEVICE IS PLAYING MIDI FILE"}, {"code", 0}};
        }
        session.APP_STATE = KeyvoraFlow::kPreparing;
        nlohmann::json answer = PrepareSongData(request).execute();
        const auto& song = SongObject::shared();
        answer["duration"] = saturatedInt64(song.playNumberOfTicks * song.playTickSpacing);
        const auto device = session.currentMidiDevice.get();
        answer["isSetDevice"] = device && !device->name.empty() ? 1 : 0;
        if (answer.value("code", 0) != 0) return answer;
        answer["message"] = "SUCCESS";
        answer["code"] = 0;
        return answer;
    } catch (const std::exception& error) {
        logText(kLogError, std::string("PreparePlayingDataFlow: ") + error.what());
        return {{"message", error.what()}, {"code", -1}};
    }
}

}  // namespace kv

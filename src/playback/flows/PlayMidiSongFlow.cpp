#include "playback/flows/PlayMidiSongFlow.h"

#include "base/JsonReading.h"
#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "playback/PlaySongLogic.h"
#include "store/CachePaths.h"
#include "store/File.h"

namespace kv {

nlohmann::json PlayMidiSongFlow::processData(const nlohmann::json& requestData, const std::string&,
                                             const BaseRequestJSONObject& request) {
    auto& session = KeyvoraFlow::shared();
    try {
        const std::string songID = std::to_string(json_reading::readInt32(requestData, "songId").value_or(0));
        const std::string start = json_reading::readString(requestData, "startTime").value_or("");
        if (start.size() != 23 && start.size() != 19) {
            logText(kLogError, "Start time format is wrong.");
            return {{"message", "Start time format is wrong."}, {"code", -1}};
        }
        session.listMidiEvents.clear();
        const auto cached = getMidiCacheFolderPathWithSongID(songID);
        if (!cached || !File::isFileExistWithFilePath(*cached)) {
            logText(kLogError, "File not exist");
            return {{"message", "Play midi song failed"}, {"code", -1}};
        }
        session.lastPlayMidi.set(std::chrono::system_clock::now());
        session.isStopMusic = false;
        const nlohmann::json played = std::make_shared<PlaySongLogic>(request)->execute();
        // The engine's own refusals (a start it cannot read or too far ahead) are the answer.
        if (played.value("code", 0) != 0) return played;
        return {{"message", "SUCCESS"}, {"code", 0}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("PlayMidiSongFlow: ") + error.what());
        return {{"message", error.what()}, {"code", -1}};
    }
}

}  // namespace kv

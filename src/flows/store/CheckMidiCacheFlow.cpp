#include "flows/store/CheckMidiCacheFlow.h"

#include "base/Log.h"
#include "core/CacheCipher.h"
#include "midifile/MidiFileAnalysis.h"
#include "store/CachePaths.h"
#include "store/File.h"
#include "store/SongHelper.h"
#include "flows/store/CacheRequest.h"

namespace kv {

namespace {
constexpr const char* kSongIdNotFound = "SONG ID NOT FOUND";
constexpr const char* kNotCached = "MIDI file was not cached yet!";
constexpr const char* kNotInDatabase = "THIS SONG IS NOT SAVED TO DATABASE";
}  // namespace

nlohmann::json CheckMidiCacheFlow::processData(const nlohmann::json& requestData, const std::string&,
                                               const BaseRequestJSONObject&) {
    try {
        const auto id = cacheIdText(requestData, "id");
        if (!id) {
            logText(kLogDebug, kSongIdNotFound);
            return {{"code", -1}, {"message", kSongIdNotFound}};
        }
        const auto path = getMidiCacheFolderPathWithSongID(*id);
        if (!path || !File::isFileExistWithFilePath(*path)) {
            logText(kLogDebug, kNotCached);
            return {{"code", 0}, {"message", kNotCached}};
        }
        const auto cipher = File::readFromFileToDataWithURL(*path);
        const auto plain = cipher ? decryptData(*cipher) : std::nullopt;
        if (!plain) {
            logText(kLogError, "cached MIDI file cannot be read or deciphered: " + path->string());
            return {{"code", -1}, {"message", kNotCached}};
        }
        nlohmann::json summary = extractTempoMapAndInstruments(*plain);
        nlohmann::json answer = {{"tempoMapMidi", std::move(summary["tempoMap"])},
                                 {"instruments", std::move(summary["instruments"])}};
        if (const auto song = SongHelper(Database::shared()).getSongByID(*id)) {
            answer["lastMidiModified"] = song->lastModifiedDate;
            answer["code"] = 0;
            answer["message"] = "SUCCESS";
        } else {
            logText(kLogDebug, kNotInDatabase);
            answer["code"] = 0;
            answer["message"] = kNotInDatabase;
        }
        return answer;
    } catch (const std::exception& error) {
        logText(kLogError, std::string("CheckMidiCacheFlow: ") + error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv

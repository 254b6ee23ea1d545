#include "flows/store/SaveMidiCacheFlow.h"

#include "base/Base64.h"
#include "base/JsonReading.h"
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

nlohmann::json failure(const std::string& message) {
    logText(kLogError, message);
    return {{"code", -1}, {"message", message}};
}

// The song's record takes the stamp: updated when it exists, else made.
nlohmann::json recordStamp(const std::string& id, const nlohmann::json& requestData) {
    const std::string stamp = json_reading::readString(requestData, "lastMidiModified").value_or("");
    if (auto song = SongHelper(Database::shared()).getSongByID(id)) {
        song->lastModifiedDate = stamp;
        if (!SongHelper(Database::shared()).updateSong(*song)) return failure("update song to db fail");
    } else {
        Song made;
        made.Id = std::stoll(id);
        made.lastModifiedDate = stamp;
        if (!SongHelper(Database::shared()).insertSong(made)) return failure("insert song to db fail");
    }
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace

// Everything is decoded, enciphered and analysed before the cached file is touched: a request
// that brings no file leaves the one cached before, and a new file replaces it atomically.
nlohmann::json SaveMidiCacheFlow::processData(const nlohmann::json& requestData, const std::string&,
                                              const BaseRequestJSONObject&) {
    const auto id = cacheIdText(requestData, "id");
    if (!id) {
        logText(kLogDebug, kSongIdNotFound);
        return {{"code", -1}, {"message", kSongIdNotFound}};
    }
    const auto file = requestData.find("midiFile");
    if (file == requestData.end() || !file->is_string()) return nullptr;
    const std::vector<std::uint8_t> plain = decodeBase64(file->get_ref<const std::string&>());
    const auto cipher = plain.empty() ? std::nullopt : encryptData(plain);
    if (!cipher) return nullptr;
    nlohmann::json summary = extractTempoMapAndInstruments(plain);
    const auto path = createMidiCacheFolderPathWithSongID(*id);
    if (!path || !File::writeToFileWithURL(*path, *cipher)) return failure("Write xml data to file fail");
    nlohmann::json answer = recordStamp(*id, requestData);
    answer["tempoMapMidi"] = std::move(summary["tempoMap"]);
    answer["instruments"] = std::move(summary["instruments"]);
    return answer;
}

}  // namespace kv

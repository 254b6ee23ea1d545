#include "flows/store/SaveXMLCacheFlow.h"

#include "base/JsonReading.h"
#include "base/Log.h"
#include "core/CacheCipher.h"
#include "store/CachePaths.h"
#include "store/ExerciseHelper.h"
#include "store/File.h"
#include "flows/store/CacheRequest.h"

namespace kv {

namespace {

nlohmann::json failure(const std::string& message) {
    logText(kLogError, message);
    return {{"code", -1}, {"message", message}};
}

// The exercise's record takes the stamp: updated when it exists, else made.
nlohmann::json recordStamp(const std::string& id, const nlohmann::json& requestData) {
    const std::string stamp = json_reading::readString(requestData, "lastXmlModified").value_or("");
    if (auto exercise = ExerciseHelper(Database::shared()).getExcerciseByID(id)) {
        exercise->lastModifiedDate = stamp;
        if (!ExerciseHelper(Database::shared()).updateExercise(*exercise)) return failure("update exercise to db fail");
    } else {
        Exercise made;
        made.Id = std::stoll(id);
        made.lastModifiedDate = stamp;
        if (!ExerciseHelper(Database::shared()).insertExercise(made)) return failure("insert exercise to db fail");
    }
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace

// As a song's file: the score replaces the cached one only once it is enciphered, atomically.
nlohmann::json SaveXMLCacheFlow::processData(const nlohmann::json& requestData, const std::string&,
                                             const BaseRequestJSONObject& request) {
    try {
        nlohmann::json refusal;
        const auto score = readScoreRequest(requestData, request, refusal);
        if (!score) return refusal;
        const auto notation = json_reading::readString(requestData, "notation");
        const auto cipher = notation ? encryptData({reinterpret_cast<const std::uint8_t*>(notation->data()), notation->size()})
                                     : std::nullopt;
        const auto path = cipher ? createXMLCacheFolderPathWithSongID(score->exerciseId, score->lang) : std::nullopt;
        if (!path || !File::writeToFileWithURL(*path, *cipher)) return failure("Write xml data to file fail");
        return recordStamp(score->exerciseId, requestData);
    } catch (const std::exception& error) {
        logText(kLogError, std::string("SaveXMLCacheFlow: ") + error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv

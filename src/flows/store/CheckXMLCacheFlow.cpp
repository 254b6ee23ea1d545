#include "flows/store/CheckXMLCacheFlow.h"

#include "base/Log.h"
#include "core/CacheCipher.h"
#include "store/CachePaths.h"
#include "store/ExerciseHelper.h"
#include "store/File.h"
#include "flows/store/CacheRequest.h"

namespace kv {

namespace {
constexpr const char* kNotCached = "XML DID NOT SAVED";
constexpr const char* kNotInDatabase = "XML DID NOT SAVE IN DATABASE";
}  // namespace

nlohmann::json CheckXMLCacheFlow::processData(const nlohmann::json& requestData, const std::string&,
                                              const BaseRequestJSONObject& request) {
    try {
        nlohmann::json refusal;
        const auto score = readScoreRequest(requestData, request, refusal);
        if (!score) return refusal;
        const auto path = getXMLCacheFolderPathWithSongID(score->exerciseId, score->lang);
        if (!path || !File::isFileExistWithFilePath(*path)) {
            logText(kLogDebug, kNotCached);
            return {{"code", 0}, {"message", kNotCached}};
        }
        const auto exercise = ExerciseHelper(Database::shared()).getExcerciseByID(score->exerciseId);
        if (!exercise) {
            logText(kLogDebug, kNotInDatabase);
            return {{"code", 0}, {"message", kNotInDatabase}};
        }
        const auto cipher = File::readFromFileToDataWithURL(*path);
        const auto plain = cipher ? decryptData(*cipher) : std::nullopt;
        if (!plain) {
            logText(kLogError, "cached score cannot be read or deciphered: " + path->string());
            return {{"code", -1}, {"message", kNotCached}};
        }
        return {{"notation", std::string(plain->begin(), plain->end())},
                {"lastXmlModified", exercise->lastModifiedDate},
                {"code", 0},
                {"message", "SUCCESS"}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("CheckXMLCacheFlow: ") + error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv

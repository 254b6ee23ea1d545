#include "flows/store/CacheRequest.h"

#include "base/IdText.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "core/BaseRequestJSONObject.h"
#include "store/PathComponent.h"

namespace kv {

std::optional<std::string> cacheIdText(const nlohmann::json& data, const char* key) {
    const auto text = json_reading::readString(data, key);
    if (!text || text->size() > kMaxIdBytes) return std::nullopt;
    const auto id = int32FromIdText(*text);
    if (!id) return std::nullopt;
    return std::to_string(*id);
}

std::optional<ScoreRequest> readScoreRequest(const nlohmann::json& data, const BaseRequestJSONObject& request,
                                             nlohmann::json& refusal) {
    auto refuse = [&refusal](const char* message) {
        logText(kLogDebug, message);
        refusal = {{"code", -1}, {"message", message}};
        return std::nullopt;
    };
    auto id = cacheIdText(data, "exerciseId");
    if (!id) return refuse("exerciseId NOT FOUND");
    if (!request.lang || !isSafePathComponent(*request.lang)) return refuse("lang NOT VALID");
    return ScoreRequest{std::move(*id), *request.lang};
}

}  // namespace kv

#include "flows/store/SavePracticeMinutesFlow.h"

#include "base/DateText.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "store/PracticeMinutesHelper.h"

namespace kv {

nlohmann::json SavePracticeMinutesFlow::processData(const nlohmann::json& requestData,
                                                    const std::string&,
                                                    const BaseRequestJSONObject& request) {
    try {
        auto text = [&](const char* key) { return json_reading::readString(requestData, key); };
        const auto seconds = text("seconds");
        const auto songID = text("songID");
        const auto rednote = text("rednote");
        if (!seconds || !songID || !rednote) {
            const std::string message = "Seconds value or rednote value is NULL. Invalid data.";
            logText(kLogError, message);
            return {{"code", -1}, {"message", message}};
        }
        PracticeMinutes record;
        record.clientID = request.clientID.value_or("");
        record.songID = *songID;
        record.seconds = *seconds;
        record.rednote = *rednote;
        record.predict = text("predict").value_or("");
        record.tempo = text("tempo").value_or("");
        record.startMeasure = text("startMeasure").value_or("");
        record.startTick = text("startTick").value_or("");
        record.endMeasure = text("endMeasure").value_or("");
        record.endTick = text("endTick").value_or("");
        record.timestamp =
            static_cast<std::int32_t>(currentTimeSeconds(std::chrono::system_clock::now()));
        if (!PracticeMinutesHelper(Database::shared()).insertPracticeMinutes(record)) {
            logText(kLogError, "Insert practice minutes fail");
            return {{"code", -1}, {"message", "Insert practice minutes fail"}};
        }
        logText(kLogInfo, "Insert practice minutes success");
        return {{"code", 0}, {"message", "SUCCESS"}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("SavePracticeMinutesFlow: ") + error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv

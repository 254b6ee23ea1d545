#include "flows/store/GetPracticeMinutesFlow.h"

#include "base/DateText.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "store/PracticeMinutesHelper.h"
#include "flows/store/OlderWebApplication.h"

namespace kv {

namespace {

constexpr std::int64_t kRetentionSeconds = 259200;  // three days

nlohmann::json segmentObject(const PracticeMinutes& record) {
    nlohmann::json segment = {{"clientID", record.clientID},
                              {"songID", record.songID},
                              {"seconds", record.seconds},
                              {"rednote", record.rednote}};
    if (isOlderWebApplication()) return segment;
    segment["predict"] = record.predict;
    segment["tempo"] = record.tempo;
    segment["startMeasure"] = record.startMeasure;
    segment["startTick"] = record.startTick;
    segment["endMeasure"] = record.endMeasure;
    segment["endTick"] = record.endTick;
    segment["timestamp"] = record.timestamp;
    return segment;
}

}  // namespace

nlohmann::json GetPracticeMinutesFlow::processData(const nlohmann::json& requestData,
                                                   const std::string&,
                                                   const BaseRequestJSONObject& request) {
    nlohmann::json segments = nlohmann::json::array();
    try {
        const auto now = static_cast<std::int64_t>(currentTimeSeconds(std::chrono::system_clock::now()));
        const PracticeMinutesHelper practice(Database::shared());
        if (!practice.deletePracticeMinutesLowerThanTimeStamp(now - kRetentionSeconds)) {
            logText(kLogError, "delete practice lower than timeStamp fail");
            return segments;
        }
        const auto records = practice.getPracticeMinutesByClientID(
            request.clientID.value_or(""), json_reading::readString(requestData, "songID").value_or(""));
        for (const auto& record : records) segments.push_back(segmentObject(record));
    } catch (const std::exception& error) {
        logText(kLogError, std::string("GetPracticeMinutesFlow: ") + error.what());
    }
    return segments;
}

}  // namespace kv

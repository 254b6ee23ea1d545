#include "flows/store/ClearPracticeMinutesFlowBySongID.h"

#include "base/JsonReading.h"
#include "base/Log.h"
#include "store/PracticeMinutesHelper.h"
#include "flows/store/OlderWebApplication.h"

namespace kv {

nlohmann::json ClearPracticeMinutesFlowBySongID::processData(const nlohmann::json& requestData,
                                                             const std::string&,
                                                             const BaseRequestJSONObject& request) {
    const std::string clientID = request.clientID.value_or("");
    const std::string songID = json_reading::readString(requestData, "songID").value_or("");
    const std::string tempo = json_reading::readString(requestData, "tempo").value_or("");
    const bool cleared =
        isOlderWebApplication()
            ? PracticeMinutesHelper(Database::shared()).resetPracticeMinutesByClientID(clientID, songID)
            : PracticeMinutesHelper(Database::shared()).resetPracticeMinutesByClientID(clientID, songID, tempo);
    if (!cleared) {
        logText(kLogError, "reset practice minutes fail");
        return {{"code", -1}, {"message", "Reset practice minutes fail"}};
    }
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv

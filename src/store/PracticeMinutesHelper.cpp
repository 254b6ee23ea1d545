#include "store/PracticeMinutesHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

namespace {

Condition userSong(std::string_view clientID, std::string_view songID) {
    Condition condition;
    condition.id("clientID", clientID).number("songID", "=", songID);
    return condition;
}

bool remove(const Condition& condition) {
    const bool removed = RecordTable<PracticeMinutes>::removeWhere(Database::shared(), condition);
    if (!removed) logText(kLogError, "update resetPracticeMinutesByClientID fail");
    return removed;
}

}  // namespace

std::vector<PracticeMinutes> PracticeMinutesHelper::getPracticeMinutesByClientID(
    std::string_view clientID, std::string_view songID) {
    return RecordTable<PracticeMinutes>::fetch(Database::shared(), userSong(clientID, songID))
        .value_or(std::vector<PracticeMinutes>{});
}

bool PracticeMinutesHelper::insertPracticeMinutes(PracticeMinutes& record) {
    const bool saved = RecordTable<PracticeMinutes>::commit(Database::shared(), record);
    if (!saved) logText(kLogError, "insert practice fail");
    return saved;
}

bool PracticeMinutesHelper::resetPracticeMinutesByClientID(std::string_view clientID,
                                                           std::string_view songID) {
    const bool removed = remove(userSong(clientID, songID));
    if (removed) logText(kLogInfo, "Flow 51 resetPracticeMinutesByClientID don't use tempo success");
    return removed;
}

bool PracticeMinutesHelper::resetPracticeMinutesByClientID(std::string_view clientID,
                                                           std::string_view songID,
                                                           std::string_view tempo) {
    return remove(userSong(clientID, songID).number("tempo", "=", tempo));
}

bool PracticeMinutesHelper::deletePracticeMinutesLowerThanTimeStamp(std::int64_t timestamp) {
    return remove(Condition().number("timestamp", "<", timestamp));
}

}  // namespace kv

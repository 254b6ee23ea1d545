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

bool remove(Database& database, const Condition& condition) {
    const bool removed = RecordTable<PracticeMinutes>::removeWhere(database, condition);
    if (!removed) logText(kLogError, "update resetPracticeMinutesByClientID fail");
    return removed;
}

}  // namespace

std::vector<PracticeMinutes> PracticeMinutesHelper::getPracticeMinutesByClientID(
    std::string_view clientID, std::string_view songID) const {
    return RecordTable<PracticeMinutes>::fetch(database_, userSong(clientID, songID))
        .value_or(std::vector<PracticeMinutes>{});
}

bool PracticeMinutesHelper::insertPracticeMinutes(PracticeMinutes& record) const {
    const bool saved = RecordTable<PracticeMinutes>::commit(database_, record);
    if (!saved) logText(kLogError, "insert practice fail");
    return saved;
}

bool PracticeMinutesHelper::resetPracticeMinutesByClientID(std::string_view clientID,
                                                           std::string_view songID) const {
    const bool removed = remove(database_, userSong(clientID, songID));
    if (removed) logText(kLogInfo, "Flow 51 resetPracticeMinutesByClientID don't use tempo success");
    return removed;
}

bool PracticeMinutesHelper::resetPracticeMinutesByClientID(std::string_view clientID,
                                                           std::string_view songID,
                                                           std::string_view tempo) const {
    return remove(database_, userSong(clientID, songID).number("tempo", "=", tempo));
}

bool PracticeMinutesHelper::deletePracticeMinutesLowerThanTimeStamp(std::int64_t timestamp) const {
    return remove(database_, Condition().number("timestamp", "<", timestamp));
}

}  // namespace kv

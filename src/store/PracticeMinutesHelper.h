#pragma once

#include "store/Database.h"
#include "store/PracticeMinutes.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kv {

// Client ids are matched as 32-bit ids, songs and tempos as numbers: a value that is not one
// finds and deletes nothing.
class PracticeMinutesHelper {
public:
    explicit PracticeMinutesHelper(Database& database) : database_(database) {}

    std::vector<PracticeMinutes> getPracticeMinutesByClientID(std::string_view clientID, std::string_view songID) const;
    bool insertPracticeMinutes(PracticeMinutes& record) const;
    // The user's segments of the song at every tempo.
    bool resetPracticeMinutesByClientID(std::string_view clientID, std::string_view songID) const;
    // The user's segments of the song at one tempo.
    bool resetPracticeMinutesByClientID(std::string_view clientID, std::string_view songID,
                                        std::string_view tempo) const;
    // Every user's segments saved before `timestamp`, whoever asks.
    bool deletePracticeMinutesLowerThanTimeStamp(std::int64_t timestamp) const;

private:
    Database& database_;
};

}  // namespace kv

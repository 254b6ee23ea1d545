#pragma once

#include "store/PracticeMinutes.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kv {

// Client ids are matched as 32-bit ids, songs and tempos as numbers: a value that is not one
// finds and deletes nothing.
class PracticeMinutesHelper {
public:
    static std::vector<PracticeMinutes> getPracticeMinutesByClientID(std::string_view clientID,
                                                                     std::string_view songID);
    static bool insertPracticeMinutes(PracticeMinutes& record);
    // The user's segments of the song at every tempo.
    static bool resetPracticeMinutesByClientID(std::string_view clientID, std::string_view songID);
    // The user's segments of the song at one tempo.
    static bool resetPracticeMinutesByClientID(std::string_view clientID, std::string_view songID,
                                               std::string_view tempo);
    // Every user's segments saved before `timestamp`, whoever asks.
    static bool deletePracticeMinutesLowerThanTimeStamp(std::int64_t timestamp);
};

}  // namespace kv

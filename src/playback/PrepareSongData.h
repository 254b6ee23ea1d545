#pragma once

#include <string>
#include <vector>

namespace kv {

// Turns a prepare request into the song record's plan.
class PrepareSongData {
public:
    // The count-off: the web application's list of sound keys, or, without one, the service's own
    // plan from the meter, the start beat, the start position and the tempo.
    static void prepareCountOff(const std::vector<std::string>& keys);
};

}  // namespace kv

#pragma once

#include "core/BaseRequestJSONObject.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kv {

// Turns a prepare request into the song record: the previous song goes, the settings, the light
// plan and the count-off are taken, and a MIDI song's cached file is read into timed groups.
class PrepareSongData {
public:
    explicit PrepareSongData(BaseRequestJSONObject request) : jsonRequest_(std::move(request)) {}

    // {code, message, duration}: 0 and "PREPARE DATA SUCCESS", or -1 and why. One preparation
    // at a time; every play running is superseded first.
    nlohmann::json execute();

    static void resetSongObject();
    // The cached MIDI file of the song into the record's groups and range. False, logged, when
    // it is not cached or cannot be read.
    static bool loadMidiFile();
    // The count-off: the web application's list of sound keys, or, without one, the service's own
    // plan from the meter, the start beat, the start position and the tempo.
    static void prepareCountOff(const std::vector<std::string>& keys);

private:
    BaseRequestJSONObject jsonRequest_;
};

}  // namespace kv

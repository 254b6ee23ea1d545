#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace kv {

// One played key: recorded for the flows and pushed to the browser as it is.
struct MidiEvent {
    std::string pitch;
    std::int32_t octave = 0;
    std::int32_t isNoteOn = 0;
    std::int32_t pressTime = 0;  // ms
    std::int32_t velocity = 0;
    std::int32_t noteNumber = 0;

    nlohmann::json toJson() const {
        return {{"pitch", pitch},         {"octave", octave},     {"isNoteOn", isNoteOn},
                {"pressTime", pressTime}, {"velocity", velocity}, {"noteNumber", noteNumber}};
    }
};

}  // namespace kv

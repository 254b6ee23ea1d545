#pragma once

#include <cstdint>
#include <string>

namespace kv {

// A listed MIDI keyboard. An empty name means no keyboard: the placeholder that matches no port.
struct MidiDevice {
    std::string deviceId;
    std::string name;     // the port name, numbered when several listed ports contain it
    std::string rawName;  // the port name as the MIDI library gives it
    std::int32_t index = -1;
    std::string modifiedDate;  // when the object was made, "yyyy-MM-dd HH:mm:ss"
    std::int32_t lowestNote = 0;
    std::int32_t highestNote = 0;
};

}  // namespace kv

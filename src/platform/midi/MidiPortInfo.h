#pragma once

#include <string>

namespace kv {

// A port of another program or a keyboard, as the service lists it.
struct MidiPortInfo {
    unsigned index = 0;   // the MIDI library's number when listed; shifts as ports come and go
    std::string rawName;  // exactly as the library names it: unique, what a port is opened by
    std::string name;     // stable across replugging (see MidiPortList); bytes as the system gives them
};

}  // namespace kv

#pragma once

#include <string>

namespace kv {

// A port of another program or a keyboard, as the service lists it.
struct MidiPortInfo {
    unsigned index = 0;  // the MIDI library's port number, to open it by
    std::string name;    // stable across replugging (see MidiPortList)
};

}  // namespace kv

#pragma once

#include "platform/midi/MidiPortInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace kv {

// The output port of the keyboard whose input port is named `rawName`: an exact name, else the
// first name containing it or contained in it, else the first with the longest common prefix
// (at least four characters, case ignored).
struct LedPortMatch {
    unsigned index = 0;
    std::string description;  // "chinh xac", "long" or "tien to <n> ky tu"
};

std::optional<LedPortMatch> matchLedPort(const std::vector<MidiPortInfo>& ports,
                                         const std::string& rawName);

}  // namespace kv

#pragma once

#include "core/KeyboardLights.h"
#include "platform/midi/MidiPortInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace kv {

struct LedPortMatch {
    unsigned index = 0;
    std::string rawName;
    std::string description;  // "chinh xac", "cung ten thu <n>", "long" or "tien to <n> ky tu"
};

// The output port of the keyboard whose input port is named `rawName`, by the library's raw
// names: an exact name (ALSA names both directions of a port alike); else, when several alike
// keyboards are listed, the output of the same rank among the outputs of their name (their raw
// names differ only in what the system numbers); else the first name containing it or contained
// in it, else the first with the longest common prefix (at least four characters, case ignored).
std::optional<LedPortMatch> matchLedPort(const std::vector<MidiPortInfo>& outputs,
                                         const std::string& rawName, const AlikeKeyboard& alike = {});

}  // namespace kv

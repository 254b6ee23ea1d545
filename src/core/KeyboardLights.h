#pragma once

#include <cstddef>
#include <string>

namespace kv {

// Which of the keyboards of one name an input port is: the n-th of `count` listed inputs whose
// stable name is `name`.
struct AlikeKeyboard {
    std::string name;
    std::size_t rank = 0;
    std::size_t count = 1;
};

// What the keyboards ask of the key lights: those of the keyboard just connected, dark to
// begin with, and nothing once it is gone. Safe from the main queue while a play lights keys.
class KeyboardLights {
public:
    virtual ~KeyboardLights() = default;
    // The lights of the keyboard whose input port has that raw name, all put out soon after;
    // false when no output of the keyboard's is found.
    virtual bool connectKeyboard(const std::string& rawName, const AlikeKeyboard& alike) = 0;
    virtual void disconnectKeyboard() = 0;
    // The output went with the MIDI system it talked to; the next connect makes a new one.
    virtual void loseMidiSystem() = 0;
};

}  // namespace kv

#pragma once

#include <stdexcept>

namespace kv {

// A failure of the MIDI library: a port that cannot be listed, opened or written.
class MidiError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kv

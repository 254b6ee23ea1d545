#pragma once

#include "platform/midi/MidiPortInfo.h"

#include <rtmidi/RtMidi.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The MIDI system interfaces, in the order the service tries them: KVPLUGIN_MIDI_API=alsa|jack
// names one; otherwise the ALSA sequencer, then JACK.
std::vector<RtMidi::Api> midiApisToTry();
// Whether one of them may open, found without making anything for it: a check to repeat often.
bool midiSystemPresent();

// The name a port keeps while its keyboard is replugged or a second one like it appears. The
// library's names carry what the system assigned at connection: ALSA appends the sequencer
// address ("Keys:Keys MIDI 1 20:0"), JACK renames a second client of the same name "Keys-01".
std::string stablePortName(RtMidi::Api api, std::string_view libraryName);

// The ports among the raw names, in their order, without this process's own ("RtMidi Input
// Client", "RtMidi Output Client"): under JACK and ALSA the service's LED port would otherwise
// list as a keyboard.
std::vector<MidiPortInfo> foreignPorts(RtMidi::Api api, const std::vector<std::string>& rawNames);
// The library's ports of one direction, without this process's own.
std::vector<MidiPortInfo> listForeignPorts(RtMidi& midi, RtMidi::Api api);
// The library's current number of the port of that exact name.
std::optional<unsigned> portIndexNamed(RtMidi& midi, const std::string& rawName);

// Collects the library's error reports instead of letting it throw or print them: an error
// becomes a MidiError when the caller checks, after the call that failed; warnings (which the
// library would print on every call, such as a missing JACK server) wait to be read.
class MidiErrorTrap {
public:
    void attach(RtMidi& midi);
    // Throws the first error reported since the last check.
    void check();
    // The warnings since the last call, joined by line breaks.
    std::string takeWarnings();

private:
    static void report(RtMidiError::Type type, const std::string& text, void* self);

    std::mutex mutex_;
    std::string error_;
    std::string warnings_;
};

}  // namespace kv

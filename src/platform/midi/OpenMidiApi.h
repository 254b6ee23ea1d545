#pragma once

#include "platform/jack/JackServerWatch.h"
#include "platform/midi/MidiError.h"
#include "platform/midi/MidiPortList.h"

#include <rtmidi/RtMidi.h>

#include <memory>
#include <string>

namespace kv {

// Calls `open` with each interface in turn until one does not throw MidiError, and answers it;
// throws MidiError with every interface's reason when none opens.
template <class Open>
RtMidi::Api openOnFirstMidiApi(Open open) {
    quietenAudioSystemLibraries();
    std::string reasons;
    for (const RtMidi::Api api : midiApisToTry()) {
        try {
            open(api);
            return api;
        } catch (const MidiError& error) {
            reasons += (reasons.empty() ? "" : "\n") + std::string(error.what());
        }
    }
    throw MidiError(reasons);
}

// The library object on that interface. JACK "opens" even without a server, with a warning on
// every call: that counts as a failure here. Throws MidiError.
template <class Midi, class... Args>
std::unique_ptr<Midi> openMidiApi(MidiErrorTrap& trap, RtMidi::Api api, Args&&... args) {
    if (api == RtMidi::UNIX_JACK && !jackServerRunning()) throw MidiError("no JACK server runs");
    try {
        auto midi = std::make_unique<Midi>(api, args...);
        trap.attach(*midi);
        midi->getPortCount();
        trap.check();
        if (std::string warnings = trap.takeWarnings(); !warnings.empty()) throw MidiError(warnings);
        return midi;
    } catch (const RtMidiError& error) {
        throw MidiError(error.getMessage());
    }
}

// Opens the port of that exact name: its number is looked up right before, since numbers shift
// when a port comes or goes (the service's own LED port among them). The library only warns of
// a port number it cannot open; that is a failure here, and the port opened is checked to be the
// one asked for. Throws MidiError.
inline void openPortNamed(RtMidi& midi, MidiErrorTrap& trap, const std::string& rawName,
                          const std::string& portName) {
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        trap.takeWarnings();
        const auto index = portIndexNamed(midi, rawName);
        trap.check();
        if (!index) throw MidiError("no MIDI port is named " + rawName);
        midi.openPort(*index, portName);
        trap.check();
        if (std::string warnings = trap.takeWarnings(); !warnings.empty()) {
            midi.closePort();
            throw MidiError(warnings);
        }
        if (!midi.isPortOpen()) throw MidiError("the MIDI port " + rawName + " did not open");
        if (portIndexNamed(midi, rawName) == index) return;
        midi.closePort();  // a port came or went meanwhile: the one opened may be another
    }
    throw MidiError("the MIDI port " + rawName + " kept moving while it was opened");
}

// A watch on the JACK server when the library talks to one, else nothing.
inline std::unique_ptr<JackServerWatch> watchFor(RtMidi::Api api) {
    return api == RtMidi::UNIX_JACK ? JackServerWatch::open() : nullptr;
}

}  // namespace kv

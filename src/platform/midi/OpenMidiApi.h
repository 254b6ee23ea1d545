#pragma once

#include "platform/midi/MidiError.h"
#include "platform/midi/MidiPortList.h"

#include <rtmidi/RtMidi.h>

#include <memory>
#include <string>

namespace kv {

// Makes the library object on the first interface that opens. JACK "opens" even without a
// server, with a warning on every call: that counts as a failure here. Throws MidiError with
// every interface's reason when none opens.
template <class Midi, class... Args>
std::unique_ptr<Midi> openMidiApi(MidiErrorTrap& trap, RtMidi::Api& chosen, Args&&... args) {
    std::string reasons;
    for (const RtMidi::Api api : midiApisToTry()) {
        try {
            auto midi = std::make_unique<Midi>(api, args...);
            trap.attach(*midi);
            midi->getPortCount();
            trap.check();
            const std::string warnings = trap.takeWarnings();
            if (warnings.empty()) {
                chosen = api;
                return midi;
            }
            reasons += warnings + "\n";
        } catch (const RtMidiError& error) {
            reasons += error.getMessage() + "\n";
        } catch (const MidiError& error) {
            reasons += std::string(error.what()) + "\n";
        }
    }
    if (!reasons.empty()) reasons.pop_back();
    throw MidiError(reasons);
}

}  // namespace kv

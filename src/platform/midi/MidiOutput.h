#pragma once

#include "platform/jack/JackServerWatch.h"
#include "platform/midi/MidiPortInfo.h"
#include "platform/midi/MidiPortList.h"

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// A MIDI output: one port open at a time. Not thread-safe; its owner serializes the calls.
class MidiOutput {
public:
    // Longer than any JACK cycle in use (2,048 frames at 44.1 kHz are 46 ms).
    static constexpr auto kJackCycleBound = std::chrono::milliseconds(100);

    // Throws MidiError when no MIDI interface opens.
    explicit MidiOutput(const std::string& clientName);
    ~MidiOutput();
    MidiOutput(const MidiOutput&) = delete;
    MidiOutput& operator=(const MidiOutput&) = delete;

    // These throw MidiError.
    std::vector<MidiPortInfo> ports();
    // The port of that raw name (MidiPortInfo::rawName), under our port name.
    void openPort(const std::string& rawName, const std::string& portName);
    void closePort();
    bool isPortOpen() const;
    void send(const unsigned char* bytes, std::size_t size);
    // The MIDI system went away (a JACK server that stopped): the object must be made again.
    bool systemLost() const { return watch_ && watch_->serverGone(); }

private:
    std::string clientName_;
    MidiErrorTrap trap_;
    RtMidi::Api api_ = RtMidi::UNSPECIFIED;
    std::unique_ptr<RtMidiOut> midi_;
    std::unique_ptr<JackServerWatch> watch_;
};

}  // namespace kv

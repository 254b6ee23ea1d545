#pragma once

#include "platform/midi/MidiPortInfo.h"
#include "platform/midi/MidiPortList.h"

#include <rtmidi/RtMidi.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// The MIDI input of the service: one port open at a time, every message passed on whole,
// SysEx, timing and active sensing included.
class MidiInput {
public:
    // Called on the library's thread (JACK: its process thread) with each complete message.
    using Receiver = std::function<void(const unsigned char* bytes, std::size_t size)>;

    // Throws MidiError when no MIDI interface opens.
    MidiInput(const std::string& clientName, unsigned queueLimit, Receiver receiver);
    ~MidiInput();
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    RtMidi::Api api() const { return api_; }
    // These throw MidiError.
    std::vector<MidiPortInfo> ports();
    void openPort(unsigned index, const std::string& portName);
    void closePort();
    bool isPortOpen() const;

private:
    static void onMessage(double timeStamp, std::vector<unsigned char>* message, void* self);

    Receiver receiver_;
    MidiErrorTrap trap_;
    RtMidi::Api api_ = RtMidi::UNSPECIFIED;
    std::unique_ptr<RtMidiIn> midi_;
};

}  // namespace kv

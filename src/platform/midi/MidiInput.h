#pragma once

#include "platform/jack/JackServerWatch.h"
#include "platform/midi/MidiByteRing.h"
#include "platform/midi/MidiPortInfo.h"
#include "platform/midi/MidiPortList.h"

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace kv {

// The MIDI input of the service: one port open at a time, every message passed on whole,
// SysEx, timing and active sensing included. The library's thread (under JACK, the real-time
// process thread) only copies each message into a ring; a thread of our own, "MidiInput", at
// raised priority, hands it on, so nothing the receiver does can hold up the audio graph.
class MidiInput {
public:
    static constexpr std::size_t kRingBytes = std::size_t{1} << 20;

    // Called on the "MidiInput" thread with each complete message, in order, and the host time
    // (CLOCK_MONOTONIC) at which the MIDI library handed it over.
    using Receiver = std::function<void(const unsigned char* bytes, std::size_t size, std::uint64_t arrival)>;

    // Throws MidiError when no MIDI interface opens.
    MidiInput(const std::string& clientName, unsigned queueLimit, Receiver receiver);
    ~MidiInput();
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    // These throw MidiError.
    std::vector<MidiPortInfo> ports();
    // The port of that raw name (MidiPortInfo::rawName), under our port name.
    void openPort(const std::string& rawName, const std::string& portName);
    void closePort();
    bool isPortOpen() const;
    // The MIDI system this input talks to went away (a JACK server that stopped): the object is
    // dead and must be made again once the system is back.
    bool systemLost() const { return watch_ && watch_->serverGone(); }

private:
    static void onMessage(double timeStamp, std::vector<unsigned char>* message, void* self);
    void deliver();

    std::string clientName_;
    Receiver receiver_;
    MidiByteRing ring_{kRingBytes};
    std::counting_semaphore<> waiting_{0};
    std::atomic<bool> stopping_{false};
    MidiErrorTrap trap_;
    RtMidi::Api api_ = RtMidi::UNSPECIFIED;
    std::unique_ptr<RtMidiIn> midi_;
    std::unique_ptr<JackServerWatch> watch_;
    std::thread deliverer_;  // started once the library object exists
};

}  // namespace kv

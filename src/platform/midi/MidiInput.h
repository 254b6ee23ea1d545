#pragma once

#include "platform/midi/JackMidiInput.h"
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
// SysEx, timing and active sensing included, through the MIDI library on the ALSA sequencer and
// through a client of our own on JACK (see JackMidiInput). Their threads (under JACK, the real-time
// process thread) only copy each message into a ring; a thread of our own, "MidiInput", at raised
// priority, hands it on, so nothing the receiver does can hold up the audio graph.
class MidiInput {
public:
    static constexpr std::size_t kRingBytes = std::size_t{1} << 20;

    // Called on the "MidiInput" thread with each complete message, in order, and the host time
    // (CLOCK_MONOTONIC) at which the MIDI library handed it over.
    using Receiver = std::function<void(const unsigned char* bytes, std::size_t size, std::uint64_t arrival)>;

    // Throws MidiError when no MIDI interface opens.
    MidiInput(const std::string& clientName, const std::string& portName, unsigned queueLimit, Receiver receiver);
    ~MidiInput();
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    // These throw MidiError.
    std::vector<MidiPortInfo> ports();
    // The port of that raw name (MidiPortInfo::rawName). A keyboard counts as open once its
    // keys reach us: the first key after choosing it is kept.
    void openPort(const std::string& rawName);
    void closePort();
    bool isPortOpen() const;
    // The MIDI system this input talks to went away (a JACK server that stopped): the object is
    // dead and must be made again once the system is back.
    bool systemLost() const { return jack_ && jack_->serverGone(); }
    // Messages that never reached the receiver: read too late from JACK, or with the receiver a
    // megabyte behind.
    std::uint64_t lostMessages() const;

private:
    static void onMessage(double timeStamp, std::vector<unsigned char>* message, void* self);
    void open(RtMidi::Api api, unsigned queueLimit);
    void deliver();

    std::string clientName_;
    std::string portName_;
    Receiver receiver_;
    MidiByteRing ring_{kRingBytes};
    std::counting_semaphore<> waiting_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> dropped_{0};
    MidiErrorTrap trap_;
    std::unique_ptr<RtMidiIn> midi_;       // on the ALSA sequencer
    std::unique_ptr<JackMidiInput> jack_;  // on JACK
    std::thread deliverer_;  // started once the input exists
};

}  // namespace kv

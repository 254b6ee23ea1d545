#pragma once

#include "platform/midi/MidiByteRing.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// A MIDI input port of a JACK client of our own, joined to one output port at a time. Its process
// callback queues each cycle's messages into the ring, whole or not at all (MidiCycleReader), with
// the cycle's host time: the MIDI library's own JACK input reads on in a buffer the next cycle has
// rewritten and hands on what it finds there, the same event over and over.
class JackMidiInput {
public:
    // Called on the process thread after messages were queued; it may only wake their reader.
    using Queued = std::function<void()>;

    // Throws MidiError when no JACK server runs or it gives no port. The ring must outlive this.
    JackMidiInput(const std::string& clientName, const std::string& portName, MidiByteRing& ring, Queued queued);
    ~JackMidiInput();
    JackMidiInput(const JackMidiInput&) = delete;
    JackMidiInput& operator=(const JackMidiInput&) = delete;

    // The server's MIDI output ports, "client:port".
    std::vector<std::string> outputPorts() const;
    // Joins our port to that output port alone, once the server runs the connection (what is sent
    // before then is lost). Throws MidiError.
    void connectTo(const std::string& rawName);
    void disconnect();
    bool connected() const;
    // The server went away: this input is dead.
    bool serverGone() const;
    // Messages dropped with a cycle read too late, or for want of room in the ring.
    std::uint64_t lostMessages() const;

private:
    struct Client;  // what the server's threads touch
    std::shared_ptr<Client> client_;
};

}  // namespace kv

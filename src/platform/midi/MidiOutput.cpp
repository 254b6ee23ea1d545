#include "platform/midi/MidiOutput.h"

#include "platform/jack/JackClientRetirement.h"
#include "platform/midi/OpenMidiApi.h"

#include <thread>
#include <utility>

namespace kv {

MidiOutput::MidiOutput(const std::string& clientName) : clientName_(clientName) {
    api_ = openOnFirstMidiApi([&](RtMidi::Api api) { midi_ = openMidiApi<RtMidiOut>(trap_, api, clientName); });
    watch_ = watchFor(api_);
}

// The library frees its JACK output buffer before it closes its client, while the process
// thread may still be reading that buffer: with the port closed first, no new cycle touches it,
// and the wait lets a cycle already running end. The clients' close is bounded, as every JACK
// client's is.
MidiOutput::~MidiOutput() {
    if (api_ != RtMidi::UNIX_JACK) return;
    if (!systemLost()) {
        midi_->closePort();
        std::this_thread::sleep_for(kJackCycleBound);
    }
    using Clients = std::pair<std::unique_ptr<RtMidiOut>, std::unique_ptr<JackServerWatch>>;
    retireJackOwner(std::make_shared<Clients>(std::move(midi_), std::move(watch_)));
}

std::vector<MidiPortInfo> MidiOutput::ports() {
    auto ports = listForeignPorts(*midi_, api_);
    trap_.check();
    return ports;
}

void MidiOutput::openPort(const std::string& rawName, const std::string& portName) {
    openPortNamed(*midi_, trap_, rawName, portName);
    // The first message sent (all lights out) must not go before the connection exists.
    if (watch_) watch_->awaitConnection(rawName, clientName_, portName);
}

void MidiOutput::closePort() {
    midi_->closePort();
    trap_.check();
}

bool MidiOutput::isPortOpen() const {
    return midi_->isPortOpen();
}

// The library only warns when its output buffer is full and the message is dropped.
void MidiOutput::send(const unsigned char* bytes, std::size_t size) {
    midi_->sendMessage(bytes, size);
    trap_.check();
    if (std::string dropped = trap_.takeWarnings(); !dropped.empty()) throw MidiError(dropped);
}

}  // namespace kv

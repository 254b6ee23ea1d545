#include "platform/midi/MidiInput.h"

#include "platform/audio/HostClock.h"
#include "platform/dispatch/ThreadPriority.h"
#include "platform/midi/OpenMidiApi.h"

namespace kv {

MidiInput::MidiInput(const std::string& clientName, unsigned queueLimit, Receiver receiver)
    : clientName_(clientName),
      receiver_(std::move(receiver)),
      midi_(openMidiApi<RtMidiIn>(trap_, api_, clientName, queueLimit)),
      watch_(watchFor(api_)),
      deliverer_([this] { deliver(); }) {
    midi_->setCallback(&MidiInput::onMessage, this);
    midi_->ignoreTypes(false, false, false);
}

MidiInput::~MidiInput() {
    midi_.reset();
    stopping_ = true;
    waiting_.release();
    deliverer_.join();
}

std::vector<MidiPortInfo> MidiInput::ports() {
    auto ports = listForeignPorts(*midi_, api_);
    trap_.check();
    return ports;
}

// A keyboard counts as open once its keys reach us: the first key after choosing it is kept.
void MidiInput::openPort(const std::string& rawName, const std::string& portName) {
    openPortNamed(*midi_, trap_, rawName, portName);
    if (watch_) watch_->awaitConnection(rawName, clientName_, portName);
}

void MidiInput::closePort() {
    midi_->closePort();
    trap_.check();
}

bool MidiInput::isPortOpen() const {
    return midi_->isPortOpen();
}

// On the library's thread: a time stamp, a copy and a wake-up, no lock, no allocation. The stamp
// is taken here, before the hand-off, so a key's time does not include it. A message that does
// not fit (the receiver a megabyte behind) is dropped.
void MidiInput::onMessage(double, std::vector<unsigned char>* message, void* self) {
    const std::uint64_t arrival = host_clock::now();
    auto& input = *static_cast<MidiInput*>(self);
    if (message && input.ring_.push(message->data(), message->size(), arrival)) input.waiting_.release();
}

void MidiInput::deliver() {
    nameCurrentThread("MidiInput");
    raiseCurrentThreadPriority();
    std::vector<unsigned char> message;
    message.reserve(kRingBytes);
    std::uint64_t arrival = 0;
    while (true) {
        waiting_.acquire();
        if (stopping_) return;
        while (ring_.pop(message, arrival)) receiver_(message.data(), message.size(), arrival);
    }
}

}  // namespace kv

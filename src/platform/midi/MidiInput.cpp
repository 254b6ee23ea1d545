#include "platform/midi/MidiInput.h"

#include "platform/midi/OpenMidiApi.h"

namespace kv {

MidiInput::MidiInput(const std::string& clientName, unsigned queueLimit, Receiver receiver)
    : receiver_(std::move(receiver)),
      midi_(openMidiApi<RtMidiIn>(trap_, api_, clientName, queueLimit)) {
    midi_->setCallback(&MidiInput::onMessage, this);
    midi_->ignoreTypes(false, false, false);
}

MidiInput::~MidiInput() {
    midi_->cancelCallback();
}

std::vector<MidiPortInfo> MidiInput::ports() {
    auto ports = listForeignPorts(*midi_, api_);
    trap_.check();
    return ports;
}

void MidiInput::openPort(unsigned index, const std::string& portName) {
    midi_->openPort(index, portName);
    trap_.check();
}

void MidiInput::closePort() {
    midi_->closePort();
    trap_.check();
}

bool MidiInput::isPortOpen() const {
    return midi_->isPortOpen();
}

void MidiInput::onMessage(double, std::vector<unsigned char>* message, void* self) {
    if (message) static_cast<MidiInput*>(self)->receiver_(message->data(), message->size());
}

}  // namespace kv

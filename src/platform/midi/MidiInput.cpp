#include "platform/midi/MidiInput.h"

#include "base/HostClock.h"
#include "platform/dispatch/ThreadPriority.h"
#include "platform/midi/OpenMidiApi.h"

namespace kv {

MidiInput::MidiInput(const std::string& clientName, const std::string& portName, unsigned queueLimit, Receiver receiver)
    : clientName_(clientName), portName_(portName), receiver_(std::move(receiver)) {
    openOnFirstMidiApi([&](RtMidi::Api api) { open(api, queueLimit); });
    deliverer_ = std::thread([this] { deliver(); });
}

void MidiInput::open(RtMidi::Api api, unsigned queueLimit) {
    if (api == RtMidi::UNIX_JACK) {
        jack_ = std::make_unique<JackMidiInput>(clientName_, portName_, ring_, [this] { waiting_.release(); });
        return;
    }
    midi_ = openMidiApi<RtMidiIn>(trap_, api, clientName_, queueLimit);
    midi_->setCallback(&MidiInput::onMessage, this);
    midi_->ignoreTypes(false, false, false);
}

MidiInput::~MidiInput() {
    midi_.reset();
    jack_.reset();
    stopping_ = true;
    waiting_.release();
    if (deliverer_.joinable()) deliverer_.join();
}

std::vector<MidiPortInfo> MidiInput::ports() {
    if (jack_) return foreignPorts(RtMidi::UNIX_JACK, jack_->outputPorts());
    auto ports = listForeignPorts(*midi_, RtMidi::LINUX_ALSA);
    trap_.check();
    return ports;
}

void MidiInput::openPort(const std::string& rawName) {
    if (jack_) return jack_->connectTo(rawName);
    openPortNamed(*midi_, trap_, rawName, portName_);
}

void MidiInput::closePort() {
    if (jack_) return jack_->disconnect();
    midi_->closePort();
    trap_.check();
}

bool MidiInput::isPortOpen() const {
    return jack_ ? jack_->connected() : midi_->isPortOpen();
}

// On the library's thread: a time stamp, a copy and a wake-up, no lock, no allocation. The stamp
// is taken here, before the hand-off, so a key's time does not include it. A message that does
// not fit (the receiver a megabyte behind) is dropped.
void MidiInput::onMessage(double, std::vector<unsigned char>* message, void* self) {
    const std::uint64_t arrival = host_clock::now();
    auto& input = *static_cast<MidiInput*>(self);
    if (!message) return;
    if (input.ring_.push(message->data(), message->size(), arrival)) {
        input.waiting_.release();
    } else {
        input.dropped_.fetch_add(1, std::memory_order_relaxed);
    }
}

std::uint64_t MidiInput::lostMessages() const {
    return dropped_.load(std::memory_order_relaxed) + (jack_ ? jack_->lostMessages() : 0);
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

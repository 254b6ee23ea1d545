#include "playback/PlayMidiMessage.h"

#include "base/Log.h"

#include <algorithm>
#include <cmath>

namespace kv {

std::shared_ptr<PlayMidiMessage> PlayMidiMessage::initWithInstrument(MidiReceiver* synthesizer,
                                                                     const std::atomic<std::int32_t>& songVolume,
                                                                     std::int32_t) {
    return std::make_shared<PlayMidiMessage>(synthesizer, songVolume);
}

PlayMidiMessage::PlayMidiMessage(MidiReceiver* synthesizer, const std::atomic<std::int32_t>& songVolume)
    : synthesizer_(synthesizer), songVolume_(songVolume) {}

// A released handle must not leave its notes hanging in the shared synthesizer.
PlayMidiMessage::~PlayMidiMessage() {
    STOP();
}

void PlayMidiMessage::send(std::uint8_t command, int channel, int data1, int data2, std::uint64_t hostTime) {
    if (!synthesizer_) return;
    synthesizer_->send(command, channel & 0x0F, static_cast<std::uint8_t>(data1),
                       static_cast<std::uint8_t>(data2), hostTime);
}

void PlayMidiMessage::sendMessageMidiSongWithMessage(const std::vector<std::int32_t>& bytes, std::uint64_t hostTime) {
    if (bytes.empty()) return;
    const int status = bytes[0];
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
        case 0x80:
            if (bytes.size() >= 2) send(0x90, channel, bytes[1], 0, hostTime);
            return;
        case 0x90: {
            if (bytes.size() < 2) break;
            const double velocity = (bytes.size() > 2 ? bytes[2] : 0) * (songVolume_ / 100.0) *
                                    (channelVolume_ / 100.0);
            send(0x90, channel, bytes[1], std::clamp(static_cast<int>(std::trunc(velocity)), 0, 127), hostTime);
            return;
        }
        case 0xB0:
            if (bytes.size() < 3) break;
            send(0xB0, channel, bytes[1], bytes[2], hostTime);
            return;
        case 0xC0:
            if (bytes.size() < 2) break;
            send(0xC0, channel, bytes[1], 0, hostTime);
            return;
        default:
            return;
    }
    logText(kLogError, "sendMessageMidiSongWithMessage have error. Details: event of " + std::to_string(bytes.size()) +
                           " bytes with status " + std::to_string(status));
}

void PlayMidiMessage::playNoteOn(int note, int velocity, int channel, std::uint64_t hostTime) {
    send(0x90, channel, note, velocity, hostTime);
}

void PlayMidiMessage::playNoteOff(int note, int channel, std::uint64_t hostTime) {
    send(0x80, channel, note, 0, hostTime);
}

void PlayMidiMessage::preloadProgram(int channel, int program) {
    if (synthesizer_) synthesizer_->preload(channel & 0x0F, static_cast<std::uint8_t>(program & 0x7F));
}

void PlayMidiMessage::setInstrumentVolume(std::int32_t volume) {
    channelVolume_ = std::clamp(volume, 0, 100);
}

void PlayMidiMessage::STOP() {
    if (synthesizer_) {
        for (int channel = 0; channel < 16; ++channel) synthesizer_->discardTimed(channel);
    }
    for (int channel = 0; channel < 16; ++channel) {
        send(0xB0, channel, 64, 0, MidiReceiver::kNow);
        send(0xB0, channel, 123, 0, MidiReceiver::kNow);
        send(0xB0, channel, 120, 0, MidiReceiver::kNow);
    }
}

}  // namespace kv

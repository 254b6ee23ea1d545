#pragma once

#include "audio/MidiReceiver.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace kv {

// A handle on the song's sixteen channels of the shared synthesizer (0 … 15; the keyboard's
// echo has the next sixteen, so it never cuts a song note). A program change on a channel
// applies to that channel's notes.
class PlayMidiMessage {
public:
    // The instrument is not applied: the channel takes the song's program changes as they come.
    static std::shared_ptr<PlayMidiMessage> initWithInstrument(MidiReceiver* synthesizer,
                                                               const std::atomic<std::int32_t>& songVolume,
                                                               std::int32_t instrument);
    // Without a synthesizer every message is dropped. The song's volume (0 … 100) is read as each
    // note goes, and must outlive the handle.
    PlayMidiMessage(MidiReceiver* synthesizer, const std::atomic<std::int32_t>& songVolume);
    ~PlayMidiMessage();
    PlayMidiMessage(const PlayMidiMessage&) = delete;
    PlayMidiMessage& operator=(const PlayMidiMessage&) = delete;

    // One song event, at the host time given (or now); note-on velocities scaled by the song's
    // and this channel's volumes.
    void sendMessageMidiSongWithMessage(const std::vector<std::int32_t>& bytes,
                                        std::uint64_t hostTime = MidiReceiver::kNow);
    void playNoteOn(int note, int velocity, int channel, std::uint64_t hostTime = MidiReceiver::kNow);
    void playNoteOff(int note, int channel, std::uint64_t hostTime = MidiReceiver::kNow);
    void setInstrumentVolume(std::int32_t volume);
    // The program's sound made ready on the channel (0 … 15), for a song that will select it.
    void preloadProgram(int channel, int program);
    std::int32_t channelVolume() const { return channelVolume_; }
    // Drops the notes sent ahead and not sounded yet; then sustain off, all notes off, all sound
    // off on the sixteen channels.
    void STOP();

private:
    void send(std::uint8_t command, int channel, int data1, int data2, std::uint64_t hostTime);

    MidiReceiver* synthesizer_;
    const std::atomic<std::int32_t>& songVolume_;
    std::atomic<std::int32_t> channelVolume_{100};
};

}  // namespace kv

#include "audio/AudioEngine.h"
#include "audio/Synthesizer.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "playback/PlayMidiMessage.h"
#include "playback/SongObject.h"

#include "support/OfflineEngine.h"

#include "support/RecordingReceiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>

namespace kv {
namespace {

// The tests name their font: another one (FluidR3_GM as the system default) sounds otherwise.
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

using test::RecordingReceiver;
using test::Sent;

class PlayMidiMessageTest : public ::testing::Test {
protected:
    SongObject song_;
    RecordingReceiver receiver_;
};

TEST_F(PlayMidiMessageTest, SongEventsFollowTheMessageTable) {
    PlayMidiMessage song(&receiver_, song_.volume);
    song_.volume = 50;
    song.sendMessageMidiSongWithMessage({0x93, 60, 100});   // velocity × 50 % × 100 %
    song.sendMessageMidiSongWithMessage({0x83, 60, 64});    // note-off as velocity 0
    song.sendMessageMidiSongWithMessage({0xB5, 7, 90});
    song.sendMessageMidiSongWithMessage({0xC5, 40});
    song.sendMessageMidiSongWithMessage({0x95, 62});        // no velocity byte: 0
    for (const std::vector<std::int32_t>& ignored : std::vector<std::vector<std::int32_t>>{
             {0xA0, 60, 1}, {0xE0, 0, 64}, {0xF0}, {0x40, 1}, {0x80}, {}}) {
        song.sendMessageMidiSongWithMessage(ignored);
    }
    EXPECT_EQ(receiver_.sent.all(), (std::vector<Sent>{{0x90, 3, 60, 50}, {0x90, 3, 60, 0}, {0xB0, 5, 7, 90},
                                                 {0xC0, 5, 40, 0}, {0x90, 5, 62, 0}}));
}

TEST_F(PlayMidiMessageTest, VelocitiesScaleByBothVolumesAndClamp) {
    PlayMidiMessage song(&receiver_, song_.volume);
    const std::vector<std::tuple<int, int, int, int>> table = {
        // velocity, song volume, channel volume, sent
        {100, 100, 100, 100}, {100, 50, 100, 50}, {127, 50, 50, 31}, {99, 33, 100, 32}, {100, 0, 100, 0}, {127, 100, 150, 127},
    };
    for (const auto& [velocity, songVolume, channelVolume, expected] : table) {
        receiver_.sent.clear();
        song_.volume = songVolume;
        song.setInstrumentVolume(channelVolume);
        song.sendMessageMidiSongWithMessage({0x90, 60, velocity});
        const auto sent = receiver_.sent.all();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], (Sent{0x90, 0, 60, expected})) << velocity << " " << songVolume << " " << channelVolume;
    }
    song.setInstrumentVolume(-5);
    EXPECT_EQ(song.channelVolume(), 0);
    song.setInstrumentVolume(150);
    EXPECT_EQ(song.channelVolume(), 100);
}

// The synthesizer on an offline engine, with the General MIDI SoundFont.
class SynthesizerTest : public ::testing::Test {
protected:
    SynthesizerTest() { engine_->connect(synthesizer_, engine_->mainMixerNode()); }

    std::int64_t firstSound(std::size_t from) const {
        const auto& samples = device_->recorded();
        for (std::size_t frame = from; frame * 2 < samples.size(); ++frame) {
            if (std::abs(samples[frame * 2]) > 1e-5F) return static_cast<std::int64_t>(frame);
        }
        return -1;
    }

    double energy(std::size_t from, std::size_t frames) const {
        double sum = 0;
        for (std::size_t frame = from; frame < from + frames; ++frame) sum += std::pow(device_->recorded()[frame * 2], 2);
        return sum;
    }

    // The shape of a timbre: the third harmonic's power against the fundamental's.
    double timbre(std::size_t from, std::size_t frames, double hertz) const {
        return power(from, frames, 3 * hertz) / power(from, frames, hertz);
    }

    double power(std::size_t from, std::size_t frames, double hertz) const {
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / engine_->sampleRate());
        double previous = 0, before = 0;
        for (std::size_t frame = from; frame < from + frames; ++frame) {
            const double current = device_->recorded()[frame * 2] + coefficient * previous - before;
            before = previous;
            previous = current;
        }
        return previous * previous + before * before - coefficient * previous * before;
    }

    test::OfflineEngine offline_;
    OfflineAudioDevice* device_ = offline_.device;
    std::unique_ptr<AudioEngine>& engine_ = offline_.engine;
    std::shared_ptr<Synthesizer> synthesizer_ = std::make_shared<Synthesizer>(engine_->sampleRate(), kSoundFont);
    SongObject song_;
};

TEST_F(SynthesizerTest, ATimedNoteSoundsAtItsFrameWithinHalfABlock) {
    for (const std::uint64_t frame : {4800u, 4831u, 9999u}) {
        const std::size_t from = device_->recorded().size() / 2;
        const std::uint64_t target = from + frame;
        synthesizer_->send(0x90, 0, 60, 100, device_->hostTimeOfFrame(target));
        device_->renderFrames(frame + 4800);
        const auto onset = firstSound(from);
        ASSERT_GE(onset, 0);
        EXPECT_LE(std::abs(onset - static_cast<std::int64_t>(target)), Synthesizer::kBlockFrames / 2 + 1) << frame;
        synthesizer_->send(0xB0, 0, 120, 0);
        device_->renderFrames(48000);
    }
}

TEST_F(SynthesizerTest, StopSilencesWithinABufferAndTheRelease) {
    PlayMidiMessage song(synthesizer_.get(), song_.volume);
    song_.volume = 100;
    for (int channel : {0, 15}) {
        for (int note : {48, 52, 55, 60}) song.playNoteOn(note, 110, channel);
    }
    device_->renderFrames(24000);
    const double playing = energy(12000, 12000);
    ASSERT_GT(playing, 1.0);
    song.STOP();
    device_->renderFrames(24000);
    // All sound off: after one buffer and 50 ms only the reverberation's tail is left.
    EXPECT_LT(energy(24000 + 256 + 2400, 12000), playing * 0.01);
}

TEST_F(SynthesizerTest, AProgramChangeOnAChannelChangesThatChannelsSound) {
    auto play = [&](int channel) {
        const std::size_t from = device_->recorded().size() / 2;
        synthesizer_->send(0x90, channel, 69, 100);
        device_->renderFrames(24000);
        synthesizer_->send(0x80, channel, 69, 0);
        device_->renderFrames(48000);
        return timbre(from + 2400, 9600, 440.0);
    };
    const auto near = [](double a, double b) { return a < 2 * b && b < 2 * a; };
    const double piano = play(5);
    EXPECT_TRUE(near(play(5), piano));
    synthesizer_->send(0xC0, 5, 80, 0);  // square lead: strong odd harmonics
    const double lead = play(5);
    EXPECT_FALSE(near(lead, piano)) << lead << " " << piano;
    EXPECT_TRUE(near(play(0), piano)) << "channel 0 kept its program";

    // More presets than are kept loaded, then the lead again: its samples come back.
    for (int program = 0; program < Synthesizer::kKeepers + 8; ++program) synthesizer_->send(0xC0, 5, program, 0);
    synthesizer_->send(0xC0, 5, 80, 0);
    EXPECT_TRUE(near(play(5), lead));
}

// Presets load on another thread while an organ note holds: no buffer falls silent meanwhile.
TEST_F(SynthesizerTest, APresetLoadingElsewhereSilencesNoBuffer) {
    synthesizer_->send(0xC0, 0, 19, 0);
    synthesizer_->send(0x90, 0, 60, 100);
    device_->renderFrames(4800);
    std::atomic<bool> loaded{false};
    std::thread loader([&] {
        for (int round = 0; round < 3; ++round) {
            for (int program = 0; program < 128; ++program) synthesizer_->preload(5, static_cast<std::uint8_t>(program));
        }
        loaded = true;
    });
    int buffers = 0;
    int silent = 0;
    while (!loaded) {
        const std::size_t from = device_->recorded().size() / 2;
        device_->renderFrames(256);
        ++buffers;
        if (energy(from, 256) == 0.0) ++silent;
    }
    loader.join();
    EXPECT_EQ(silent, 0) << "of " << buffers;
}

// The engine moves to an output at 44.1 kHz: the synthesizer is made anew for it, in tune, with
// its channels' programs and controllers as they were; a sound read for 48 kHz keeps its pitch.
TEST_F(SynthesizerTest, AnOutputAtAnotherRateTakesOverInTuneWithEveryChannelAsItWas) {
    synthesizer_->send(0xC0, 3, 80, 0);  // square lead: strong odd harmonics
    synthesizer_->send(0xB0, 4, 7, 0);   // channel 4 silenced
    device_->renderFrames(256);
    auto output = std::make_unique<OfflineAudioDevice>(44100);
    OfflineAudioDevice* next = output.get();
    std::string failure;
    ASSERT_TRUE(engine_->replaceDevice(std::move(output), failure)) << failure;
    device_ = next;
    EXPECT_EQ(engine_->sampleRate(), 44100);

    auto tone = std::make_shared<AudioBuffer>();
    tone->sampleRate = 48000;
    for (int frame = 0; frame < 24000; ++frame) {
        tone->samples.insert(tone->samples.end(), 2, 0.5F * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * frame / 48000.0)));
    }
    const auto player = engine_->makePlayerNode();
    engine_->connect(player, engine_->mainMixerNode());
    player->scheduleBuffer(tone, PlayerNode::kAsSoonAsPossible);
    device_->renderFrames(44100);
    EXPECT_GT(power(0, 8820, 440.0), 10 * power(0, 8820, 440.0 * 44100 / 48000)) << "the sound keeps its pitch";
    EXPECT_GT(energy(21850, 200), 1.0) << "and its length";
    EXPECT_EQ(firstSound(22052), -1);

    const auto play = [&](int channel) {
        const std::size_t from = device_->recorded().size() / 2;
        synthesizer_->send(0x90, channel, 69, 100);
        device_->renderFrames(22050);
        synthesizer_->send(0x80, channel, 69, 0);
        device_->renderFrames(44100);
        return from;
    };
    const std::size_t lead = play(3);
    EXPECT_GT(power(lead + 2205, 8820, 440.0), 10 * power(lead + 2205, 8820, 440.0 * 44100 / 48000)) << "in tune";
    const std::size_t piano = play(0);
    EXPECT_GT(timbre(lead + 2205, 8820, 440.0), 2 * timbre(piano + 2205, 8820, 440.0)) << "channel 3 kept its program";
    const std::size_t silenced = play(4);
    EXPECT_LT(energy(silenced, 22050), 1e-3 * energy(piano, 22050)) << "channel 4 kept its volume";
}

}  // namespace
}  // namespace kv

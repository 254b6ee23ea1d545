// The service on PulseAudio, and on PipeWire's PulseAudio face, whose server goes away in the
// middle of a song and comes back.
#include "core/CacheCipher.h"
#include "playback/SoundSystem.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include "support/Eventually.h"
#include "support/InProcessService.h"
#include "support/MidiFileBuilder.h"
#include "support/PulseServer.h"
#include "support/RequestText.h"
#include "support/ScopedEnvironment.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Eight loud piano notes, a quarter apart at 120 a minute.
std::vector<std::uint8_t> eightNotes() {
    test::MidiTrackBuilder track;
    track.event(0, {0xC0, 0}).event(0, {0xB0, 7, 127});
    for (int note = 0; note < 8; ++note) track.event(0, {0x90, 60, 127}).event(480, {0x80, 60, 0});
    return test::midiFile(480, {track});
}

float peakOf(const std::vector<float>& samples) {
    float peak = 0;
    for (const float sample : samples) peak = std::max(peak, std::fabs(sample));
    return peak;
}

class PlaybackPulseTest : public test::InProcessService, public testing::WithParamInterface<test::PulseServer::Kind> {
protected:
    void SetUp() override {
        if (!test::PulseServer::installed(GetParam())) GTEST_SKIP() << "the sound server's packages are not installed";
        pulse_ = std::make_unique<test::PulseServer>(GetParam());
        ASSERT_TRUE(pulse_->running());
        runtime_ = std::make_unique<test::ScopedEnvironment>("XDG_RUNTIME_DIR", pulse_->runtimeFolder().string());
    }
    json play() {
        EXPECT_EQ(call(9, {{"songId", 3}, {"tempo", 120}, {"tickSpacing", 250}})["code"], 0);
        return call(12, {{"songId", 3}, {"startTime", test::utcTextIn(300ms)}, {"accompanimentVolume", 100}});
    }
    // A PulseAudio server that has just started runs its null sink with a long latency (1.5 s
    // here) for its first seconds: a song then is heard late.
    static void settle() { std::this_thread::sleep_for(3s); }
    static bool onPulse() { return SoundSystem::shared().engine().deviceState().name.starts_with("Pulse"); }

    test::ScopedEnvironment audioApi_{"KVPLUGIN_AUDIO_API", "pulse"};
    std::unique_ptr<test::PulseServer> pulse_;
    std::unique_ptr<test::ScopedEnvironment> runtime_;
};

// Sound on PulseAudio is not kept waiting: its stream asks for a buffer of a few periods.
// The song goes on without sound while the server is away, the service answers meanwhile, and once the server is back the next song is heard on it.
TEST_P(PlaybackPulseTest, ASongOutlivesTheSoundServerAndTheNextOneIsHeardWhenItReturns) {
    startService();
    browser();
    startDevices();  // and with them the watch over the sound output
    ASSERT_TRUE(File::writeToFileWithURL(*createMidiCacheFolderPathWithSongID("3"), encryptData(eightNotes()).value()));
    ASSERT_TRUE(onPulse()) << SoundSystem::shared().engine().deviceState().name;
    settle();
    ASSERT_EQ(play()["code"], 0);
    EXPECT_LT(pulse_->streamBufferLatency(), 100ms) << "the service's sound waits long in PulseAudio's buffer";
    EXPECT_GT(peakOf(pulse_->record(3s)), 0.05F) << "the song was not heard on PulseAudio";

    pulse_->stop();
    std::this_thread::sleep_for(4s);
    EXPECT_TRUE(call(1, nullptr)["pluginVersion"].is_string()) << "the service answers without its sound server";
    EXPECT_EQ(call(10, nullptr)["code"], 0);

    pulse_->start();
    ASSERT_TRUE(pulse_->running());
    ASSERT_TRUE(test::eventually(onPulse)) << "the sound did not come back with the server";
    settle();
    ASSERT_EQ(play()["code"], 0);
    EXPECT_GT(peakOf(pulse_->record(3s)), 0.05F) << "the next song was not heard";
    EXPECT_EQ(call(10, nullptr)["code"], 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, PlaybackPulseTest,
                         testing::Values(test::PulseServer::Kind::pulseaudio, test::PulseServer::Kind::pipewire),
                         [](const auto& info) { return info.param == test::PulseServer::Kind::pulseaudio ? "PulseAudio" : "PipeWire"; });

}  // namespace
}  // namespace kv

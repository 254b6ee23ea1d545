// The service on PipeWire's JACK face: this executable loads pipewire-jack's libjack in place of
// JACK's own, as a desktop does that routes JACK through PipeWire. The keyboard is a JACK MIDI
// port on PipeWire; what the service plays is recorded from its JACK ports.
#include "base/HostClock.h"
#include "core/CacheCipher.h"
#include "core/KeyvoraFlow.h"
#include "platform/audio/SoundServers.h"
#include "playback/SoundSystem.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include "support/Eventually.h"
#include "support/InProcessService.h"
#include "support/JackServer.h"
#include "support/KeyboardSim.h"
#include "support/MidiFileBuilder.h"
#include "support/PulseServer.h"
#include "support/RequestText.h"
#include "support/RiseOnsets.h"
#include "support/ScopedEnvironment.h"

#include <cmath>
#include <thread>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A woodblock on every beat at 120 a minute: short, loud and apart.
std::vector<std::uint8_t> woodblocks(int notes) {
    test::MidiTrackBuilder track;
    track.event(0, {0xC0, 115}).event(0, {0xB0, 7, 127});
    for (int note = 0; note < notes; ++note) track.event(note == 0 ? 0 : 420, {0x90, 76, 127}).event(60, {0x80, 76, 0});
    return test::midiFile(480, {track});
}

class PipeWireJackTest : public test::InProcessService {
protected:
    void SetUp() override {
        if (!test::PulseServer::installed(test::PulseServer::Kind::pipewire)) GTEST_SKIP() << "PipeWire is not installed";
        if (loadedJackLibrary().string().find("pipewire") == std::string::npos) {
            GTEST_SKIP() << "libjack is JACK's own here, not pipewire-jack's: " << loadedJackLibrary();
        }
        pipewire_ = std::make_unique<test::PulseServer>(test::PulseServer::Kind::pipewire);
        ASSERT_TRUE(pipewire_->running());
        runtime_.emplace("XDG_RUNTIME_DIR", pipewire_->runtimeFolder().string());
    }
    static bool onJack() { return SoundSystem::shared().engine().deviceState().name.starts_with("Jack"); }

    // Where, in ms from `origin` on the host clock, sound began near `atMs`; NaN where none did.
    static double heardAt(const test::JackRecorder& recorder, double origin, double atMs) {
        const auto samples = recorder.samples();
        const double latency = SoundSystem::shared().engine().outputLatencySeconds() * 1e9;
        std::size_t near = 0;
        while (near + 1 < samples.size() && static_cast<double>(recorder.hostTimeOfFrame(near)) + latency < origin + atMs * 1e6) ++near;
        const auto onset = test::onsetNear(samples, test::JackServer::kSampleRate, near, test::JackServer::kSampleRate / 10);
        return onset ? (static_cast<double>(recorder.hostTimeOfFrame(*onset)) + latency - origin) / 1e6 : std::nan("");
    }

    // Prepares and plays the cached song from a second ahead; its start on the host clock.
    double play() {
        EXPECT_EQ(call(9, {{"songId", 8}, {"tempo", 120}, {"startTime", 0}, {"endTime", 1e6}, {"listCountOffSound", json::array()}})["code"], 0);
        EXPECT_EQ(call(12, {{"songId", 8}, {"startTime", test::utcTextIn(1000ms)}, {"accompanimentVolume", 100}})["code"], 0);
        return static_cast<double>(KeyvoraFlow::shared().baseTime.get()->host);
    }

    std::unique_ptr<test::PulseServer> pipewire_;
    std::optional<test::ScopedEnvironment> runtime_;
    test::ScopedEnvironment audioApi_{"KVPLUGIN_AUDIO_API", "jack"};
    test::ScopedEnvironment midiApi_{"KVPLUGIN_MIDI_API", "jack"};
};

// A keyboard appears through PipeWire's MIDI side and is echoed; the song and the echo are heard on
// time; PipeWire restarts, the service goes on without it, and the next song is heard on it again.
TEST_F(PipeWireJackTest, ALessonIsHeardOnTimeWithItsKeysEchoAndOutlivesARestart) {
    test::KeyboardSim keys("Keys");
    ASSERT_TRUE(keys.ready());
    startService();
    browser();
    startDevices();
    ASSERT_TRUE(File::writeToFileWithURL(*createMidiCacheFolderPathWithSongID("8"), encryptData(woodblocks(4)).value()));
    ASSERT_TRUE(test::eventually([this] { return call(3).dump().find("Keys") != std::string::npos; })) << "no keyboard listed";
    ASSERT_TRUE(onJack()) << SoundSystem::shared().engine().deviceState().name;
    // A student whose keys sound at full volume.
    ASSERT_EQ(call({{"methodName", 23}, {"clientID", "5"}, {"data", {{"speakerPc", true}, {"virtualPianoSoundVolume", 100}}}})["code"], 0);

    test::JackRecorder recorder("default", "KVPlugin", 6);
    ASSERT_TRUE(recorder.connected());
    const double song = play();
    std::this_thread::sleep_for(std::chrono::nanoseconds(static_cast<std::int64_t>(song + 2.25e9 - static_cast<double>(host_clock::now()))));
    keys.command("60 100");
    const auto sent = keys.waitForLine(" sent 90 3C", 2s);
    ASSERT_TRUE(sent);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(call(10)["code"], 0);
    for (const double beat : {0.0, 500.0, 1000.0}) EXPECT_NEAR(heardAt(recorder, song, beat), beat, 30) << "the song's note at " << beat;
    // A key reaches the service at the start of PipeWire's next cycle and is rendered in the one
    // after: its echo is heard within three cycles (64 ms at PipeWire's default 1024 frames).
    const double pressed = (static_cast<double>(std::stoull(*sent)) - song) / 1e6;
    const double cycleMs = 1e3 * recorder.periodFrames() / test::JackServer::kSampleRate;
    const double echo = heardAt(recorder, song, pressed + cycleMs);
    EXPECT_GE(echo, pressed) << "the key's echo";
    EXPECT_LT(echo, pressed + 3 * cycleMs) << "the key's echo";

    pipewire_->stop();
    ASSERT_TRUE(test::eventually([] { return !onJack(); }, 10s)) << "the service kept a server that went away";
    EXPECT_EQ(call(1)["pluginVersion"].is_string(), true) << "the service answers without its sound server";
    pipewire_->start();
    ASSERT_TRUE(pipewire_->running());
    ASSERT_TRUE(test::eventually(onJack, 10s)) << "the sound did not come back with PipeWire";
    test::JackRecorder again("default", "KVPlugin", 4);
    ASSERT_TRUE(again.connected());
    const double next = play();
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(call(10)["code"], 0);
    EXPECT_NEAR(heardAt(again, next, 0), 0, 30) << "the next song's first note";
}

}  // namespace
}  // namespace kv

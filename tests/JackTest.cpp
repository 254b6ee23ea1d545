#include "platform/audio/AudioEngine.h"
#include "platform/audio/HostClock.h"
#include "platform/audio/JackAudioDevice.h"
#include "platform/jack/JackServerWatch.h"
#include "playback/Metronome.h"

#include "support/JackServer.h"
#include "support/OfflineEngine.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace kv {
namespace {

using namespace std::chrono_literals;

// How close each click comes to its time is measured in bench/ (kv_bench_click_timing); here a
// click heard at another moment of the beat (a wrong clock, a lost latency) fails.
TEST(Jack, MetronomeClicksLandAtTheirHostTimes) {
    test::JackServer server;
    ASSERT_TRUE(server.running()) << "jackd with the dummy driver did not start";
    AudioEngine engine(std::make_unique<JackAudioDevice>());
    ASSERT_TRUE(engine.start());
    EXPECT_EQ(engine.sampleRate(), test::JackServer::kSampleRate);

    test::TempDirectory folder;
    Metronome metronome(engine, test::writeTestClick(folder.path()));
    test::JackRecorder recorder(server.name(), "KVPlugin", 4.0);
    ASSERT_TRUE(recorder.connected());
    std::this_thread::sleep_for(1s);  // the frame clock settles, as it has long done in a running service
    const double interval = 0.25;
    const std::uint64_t before = host_clock::now();
    metronome.startWithInterval(interval, std::chrono::system_clock::now() + 300ms);
    const std::uint64_t after = host_clock::now();
    std::this_thread::sleep_for(2500ms);
    metronome.stop();

    const auto onsets = recorder.onsets();
    ASSERT_GE(onsets.size(), 8u);
    if (!recorder.keptTime()) GTEST_SKIP() << "the JACK server fell behind on this loaded machine: its recording times nothing";
    const double latency = engine.outputLatencySeconds() * 1e9;
    const double bound = 50e6;
    for (std::size_t tick = 0; tick < 8; ++tick) {
        // What was recorded in a cycle is heard one output latency later.
        const double heard = static_cast<double>(recorder.hostTimeOfFrame(onsets[tick])) + latency;
        const double scheduledEarliest = static_cast<double>(before) + 0.3e9 + tick * interval * 1e9 - 1e6;
        const double scheduledLatest = static_cast<double>(after) + 0.3e9 + tick * interval * 1e9;
        EXPECT_GT(heard, scheduledEarliest - bound) << tick;
        EXPECT_LT(heard, scheduledLatest + bound) << tick;
    }
}

// A session that ends stops the server and the service at once: the output's stop returns,
// whatever came first. libjack itself can be left unusable in a process where that happened (a
// thread of its own cancelled while it holds a lock of the library), so each round is a process.
TEST(Jack, AnOutputStopsWhileItsServerGoesAway) {
    test::JackServer server;
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(server.running()) << round;
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t output = fork();
        if (output == 0) {
            AudioEngine engine(std::make_unique<JackAudioDevice>());
            const char ok = engine.start() ? 1 : 0;
            [[maybe_unused]] const auto written = write(started[1], &ok, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * round));
            engine.stop();
            _exit(ok ? 0 : 2);
        }
        close(started[1]);
        char ok = 0;
        EXPECT_EQ(read(started[0], &ok, 1), 1) << round;
        close(started[0]);
        server.stop();
        int status = -1;
        const auto deadline = std::chrono::steady_clock::now() + JackAudioDevice::kCloseBound + 5s;
        while (waitpid(output, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        if (waitpid(output, nullptr, WNOHANG) == 0) {
            kill(output, SIGKILL);
            waitpid(output, nullptr, 0);
            ADD_FAILURE() << "the output did not stop in round " << round;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round << ", status " << status;
        }
        server.start();
    }
}

// The probe runs once a second while no keyboard is open; a server killed outright leaves its
// socket behind, which must not count.
TEST(Jack, TheProbeFindsARunningServerAndNotTheSocketOfOneThatDied) {
    test::JackServer server;
    ASSERT_TRUE(server.running());
    EXPECT_TRUE(jackServerRunning());
    server.stop();
    EXPECT_FALSE(jackServerRunning());
    server.start();
    EXPECT_TRUE(jackServerRunning());

    // What a server killed outright leaves: its socket file, which nobody listens on.
    const std::string died = server.name() + "-died";
    const std::string path = "/dev/shm/jack_" + died + "_" + std::to_string(getuid()) + "_0";
    const int left = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(left, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(left);
    setenv("JACK_DEFAULT_SERVER", died.c_str(), 1);
    EXPECT_FALSE(jackServerRunning());
    unlink(path.c_str());
    setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
}

TEST(Jack, AnOutputWhoseServerWentAwayIsUnhealthyAndANewOneRendersOnTheNextServer) {
    test::JackServer server;
    ASSERT_TRUE(server.running());
    std::atomic<std::uint64_t> frames{0};
    const auto render = [&frames](float* output, std::uint32_t count, std::uint64_t) {
        std::fill(output, output + 2 * count, 0.0f);
        frames += count;
    };
    const auto renders = [&frames] {
        const std::uint64_t before = frames;
        for (int i = 0; i < 200 && frames == before; ++i) std::this_thread::sleep_for(10ms);
        return frames > before;
    };
    JackAudioDevice lost;
    ASSERT_TRUE(lost.open(render));
    ASSERT_TRUE(lost.start());
    EXPECT_TRUE(renders());
    EXPECT_EQ(lost.name(), "Jack: system");
    EXPECT_GT(lost.outputLatencySeconds(), 0.0);

    server.stop();
    for (int i = 0; i < 500 && lost.healthy(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(lost.healthy());
    server.start();
    JackAudioDevice found;
    ASSERT_TRUE(found.open(render)) << found.lastError();
    ASSERT_TRUE(found.start()) << found.lastError();
    EXPECT_TRUE(renders());
    lost.stop();
    EXPECT_TRUE(found.healthy());
}

}  // namespace
}  // namespace kv

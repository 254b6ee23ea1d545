#include "audio/AudioEngine.h"
#include "platform/audio/JackAudioDevice.h"
#include "platform/jack/JackClientRetirement.h"
#include "platform/jack/JackServerWatch.h"

#include "support/JackServer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>

namespace kv {
namespace {

using namespace std::chrono_literals;

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

// A MIDI library's JACK output whose close never returns (another JACK program died holding
// libjack's metadata lock) holds up its owner for the bound only, and is let go when it can be.
TEST(Jack, AClientCloseThatBlocksHoldsItsCallerForTheBoundOnly) {
    class Stuck {
    public:
        Stuck(std::shared_future<void> unblock, std::promise<void>& destroyed) : unblock_(std::move(unblock)), destroyed_(destroyed) {}
        ~Stuck() {
            unblock_.wait();
            destroyed_.set_value();
        }

    private:
        std::shared_future<void> unblock_;
        std::promise<void>& destroyed_;
    };
    std::promise<void> unblock;
    std::promise<void> destroyed;
    auto retired = std::async(std::launch::async, [&] {
        retireJackOwner(std::make_shared<Stuck>(unblock.get_future().share(), destroyed), 1s);
    });
    EXPECT_EQ(retired.wait_for(30s), std::future_status::ready) << "the caller waited for the close";
    unblock.set_value();
    EXPECT_EQ(destroyed.get_future().wait_for(30s), std::future_status::ready);
}

}  // namespace
}  // namespace kv

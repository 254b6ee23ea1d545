#include "support/PulseServer.h"

#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace kv::test {

namespace {

using namespace std::chrono_literals;

constexpr const char* kPulseAudio = "/usr/bin/pulseaudio";

}  // namespace

PulseServer::PulseServer() {
    start();
}

PulseServer::~PulseServer() {
    stop();
}

bool PulseServer::installed() {
    return ::access(kPulseAudio, X_OK) == 0 && ::access("/usr/bin/parec", X_OK) == 0;
}

void PulseServer::start() {
    if (running() || !installed()) return;
    const std::string runtime = folder_.path().string();
    // HOME too: the server keeps its cookie and state there.
    pid_ = spawnChild({"/usr/bin/env", "HOME=" + runtime, "XDG_RUNTIME_DIR=" + runtime, kPulseAudio, "-n", "--daemonize=no", "--exit-idle-time=-1",
                       "--use-pid-file=no", "--disallow-exit", "--log-target=stderr",
                       "--load=module-null-sink sink_name=kvtest rate=48000", "--load=module-native-protocol-unix"});
    const auto socket = folder_.path() / "pulse" / "native";
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(50ms);
    if (!std::filesystem::exists(socket)) stop();
}

void PulseServer::stop() {
    if (!running()) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::error_code ignored;
    std::filesystem::remove(folder_.path() / "pulse" / "native", ignored);
}

std::chrono::microseconds PulseServer::streamBufferLatency() const {
    const std::string command = "XDG_RUNTIME_DIR=" + folder_.path().string() + " pactl list sink-inputs 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> listing(::popen(command.c_str(), "r"), ::pclose);
    char line[512];
    while (listing && std::fgets(line, sizeof line, listing.get())) {
        long long micros = 0;
        if (std::sscanf(line, " Buffer Latency: %lld usec", &micros) == 1) return std::chrono::microseconds(micros);
    }
    return std::chrono::hours(1);
}

std::vector<float> PulseServer::record(std::chrono::milliseconds length) const {
    const auto file = folder_.path() / "recording.raw";
    const int output = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t recorder = spawnChild({"/usr/bin/env", "XDG_RUNTIME_DIR=" + folder_.path().string(), "/usr/bin/parec", "--device=kvtest.monitor", "--format=float32le", "--channels=1",
                                       "--rate=48000", "--raw"},
                                      -1, output);
    ::close(output);
    std::this_thread::sleep_for(length);
    ::kill(recorder, SIGTERM);
    ::waitpid(recorder, nullptr, 0);
    std::ifstream raw(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(raw), std::istreambuf_iterator<char>()};
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), samples.size() * sizeof(float), reinterpret_cast<char*>(samples.data()));
    return samples;
}

}  // namespace kv::test

#include "support/PulseServer.h"

#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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
constexpr const char* kPipeWirePrograms[] = {"/usr/bin/dbus-daemon", "/usr/bin/pipewire", "/usr/bin/wireplumber",
                                             "/usr/bin/pipewire-pulse"};

}  // namespace

PulseServer::PulseServer(Kind kind) : kind_(kind) {
    start();
}

PulseServer::~PulseServer() {
    stop();
}

bool PulseServer::installed(Kind kind) {
    if (::access("/usr/bin/parec", X_OK) != 0 || ::access("/usr/bin/pactl", X_OK) != 0) return false;
    if (kind == Kind::pulseaudio) return ::access(kPulseAudio, X_OK) == 0;
    return std::all_of(std::begin(kPipeWirePrograms), std::end(kPipeWirePrograms),
                       [](const char* program) { return ::access(program, X_OK) == 0; });
}

void PulseServer::start() {
    if (running() || !installed(kind_)) return;
    kind_ == Kind::pulseaudio ? startPulseAudio() : startPipeWire();
    const auto socket = folder_.path() / "pulse" / "native";
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(50ms);
    if (!std::filesystem::exists(socket)) return stop();
    if (kind_ == Kind::pipewire && !(pactl("load-module module-null-sink sink_name=kvtest rate=48000") && pactl("set-default-sink kvtest"))) {
        stop();
    }
}

// HOME too: the server keeps its cookie and state there.
void PulseServer::startPulseAudio() {
    const std::string runtime = folder_.path().string();
    keep(spawnChild({"/usr/bin/env", "HOME=" + runtime, "XDG_RUNTIME_DIR=" + runtime, kPulseAudio, "-n", "--daemonize=no",
                     "--exit-idle-time=-1", "--use-pid-file=no", "--disallow-exit", "--log-target=stderr",
                     "--load=module-null-sink sink_name=kvtest rate=48000", "--load=module-native-protocol-unix"}));
}

// The session bus first (WirePlumber wants one), then PipeWire, its session manager and its
// PulseAudio face, each once the one before has its socket.
void PulseServer::startPipeWire() {
    const std::string runtime = folder_.path().string();
    const std::string bus = "unix:path=" + runtime + "/bus";
    const std::vector<std::string> environment = {"/usr/bin/env", "HOME=" + runtime, "XDG_RUNTIME_DIR=" + runtime,
                                                  "DBUS_SESSION_BUS_ADDRESS=" + bus, "PIPEWIRE_RUNTIME_DIR=" + runtime};
    const auto run = [&](std::vector<std::string> program, const std::filesystem::path& socket) {
        program.insert(program.begin(), environment.begin(), environment.end());
        keep(spawnChild(program));
        for (int i = 0; i < 100 && !socket.empty() && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(50ms);
    };
    run({kPipeWirePrograms[0], "--session", "--address=" + bus, "--nofork", "--nopidfile"}, folder_.path() / "bus");
    run({kPipeWirePrograms[1]}, folder_.path() / "pipewire-0");
    run({kPipeWirePrograms[2]}, {});
    run({kPipeWirePrograms[3]}, {});
}

void PulseServer::keep(pid_t pid) {
    if (pid > 0) pids_.push_back(pid);  // never -1: a signal to it reaches every process
}

bool PulseServer::pactl(const std::string& arguments) const {
    const std::string command = "XDG_RUNTIME_DIR=" + folder_.path().string() + " pactl " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

void PulseServer::stop() {
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        ::kill(*pid, SIGTERM);
        reapChild(*pid, std::chrono::seconds(10));
    }
    pids_.clear();
    std::error_code ignored;
    for (const char* socket : {"pulse/native", "pipewire-0", "pipewire-0.lock", "bus"}) std::filesystem::remove(folder_.path() / socket, ignored);
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
    reapChild(recorder, std::chrono::seconds(10));
    std::ifstream raw(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(raw), std::istreambuf_iterator<char>()};
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), samples.size() * sizeof(float), reinterpret_cast<char*>(samples.data()));
    return samples;
}

}  // namespace kv::test

#include "support/JackServer.h"

#include "base/HostClock.h"
#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>


namespace kv::test {

namespace {

jack_client_t* openClient(const std::string& server, const char* name) {
    jack_status_t status{};
    return jack_client_open(name, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            server.c_str());
}

bool anyJackServerRuns() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && (name == "jackd" || name == "jackdmp")) return true;
    }
    return false;
}

// A JACK server killed outright leaves its entry in the shared registry, and the registry holds
// few: once it is full no server starts. With no server running, every entry is stale.
void clearStaleJackRegistry() {
    if (anyJackServerRuns()) return;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().starts_with("jack")) std::filesystem::remove_all(entry.path(), ignored);
    }
}

}  // namespace

// Stale registry entries are cleared before the first launch too: libjack maps the registry once
// per process, and one replaced after that leaves this process's clients on the old.
JackServer::JackServer(int period, Scheduling scheduling)
    : name_("kvtest-" + std::to_string(getpid()) + "-" + std::to_string(std::rand())), period_(period), scheduling_(scheduling) {
    clearStaleJackRegistry();
    start();
}

void JackServer::start() {
    launch();
    if (running_) return;
    stop();
    clearStaleJackRegistry();
    launch();
}

void JackServer::launch() {
    running_ = false;
    std::vector<std::string> arguments = {"jackd", scheduling_ == Scheduling::realtime ? "--realtime" : "--no-realtime",
                                          "-n", name_, "-d", "dummy", "-r", std::to_string(kSampleRate), "-p",
                                          std::to_string(period_)};
    pid_ = spawnChild(arguments);
    if (pid_ <= 0) return;
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    for (int attempt = 0; attempt < 100 && !running_; ++attempt) {
        if (jack_client_t* probe = openClient(name_, "kv-probe")) {
            jack_client_close(probe);
            running_ = true;
        } else if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;  // it gave up
            return;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

JackServer::~JackServer() {
    stop();
}

void JackServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    reapChild(pid_, std::chrono::seconds(10));
    pid_ = -1;
    running_ = false;
}

JackServer& processJackServer() {
    static JackServer server(64);
    return server;
}

JackRecorder::JackRecorder(const std::string& server, const std::string& sourceClient, double seconds)
    : recording_(static_cast<std::size_t>(seconds * JackServer::kSampleRate)),
      cycleStart_(recording_.size() / 16 + 1),
      cyclePeriod_(cycleStart_.size()),
      cycleJackMinusHost_(cycleStart_.size()) {
    client_ = openClient(server, "kv-recorder");
    if (!client_) return;
    input_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &JackRecorder::process, this);
    period_ = jack_get_buffer_size(client_);
    if (!input_ || jack_activate(client_) != 0) return;
    const char** ports = jack_get_ports(client_, (sourceClient + ":").c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    if (ports && ports[0]) {
        connected_ = jack_connect(client_, ports[0], jack_port_name(input_)) == 0;
    }
    jack_free(ports);
}

JackRecorder::~JackRecorder() {
    if (client_) jack_client_close(client_);
}

int JackRecorder::process(jack_nframes_t frames, void* self) {
    auto& recorder = *static_cast<JackRecorder*>(self);
    const std::size_t at = recorder.recorded_.load();
    const std::size_t cycle = recorder.cycles_.load();
    if (at + frames > recorder.recording_.size() || cycle >= recorder.cycleStart_.size()) return 0;
    const auto* input = static_cast<const float*>(jack_port_get_buffer(recorder.input_, frames));
    std::copy(input, input + frames, recorder.recording_.begin() + static_cast<std::ptrdiff_t>(at));
    jack_nframes_t currentFrames = 0;
    jack_time_t currentTime = 0, nextTime = 0;
    float periodMicros = 0;
    jack_get_cycle_times(recorder.client_, &currentFrames, &currentTime, &nextTime, &periodMicros);
    recorder.cycleStart_[cycle] = static_cast<double>(currentTime) * 1000;
    recorder.cyclePeriod_[cycle] = (static_cast<double>(nextTime) - static_cast<double>(currentTime)) * 1000;
    const double now = static_cast<double>(host_clock::now());
    recorder.cycleJackMinusHost_[cycle] = static_cast<double>(jack_get_time()) * 1000 - now;
    const double lateness = now - (recorder.cycleStart_[cycle] - recorder.cycleJackMinusHost_[cycle]);
    if (cycle > 0) {
        if (lateness > recorder.worstLateness_.load()) recorder.worstLateness_.store(lateness);
        const double gap = std::fabs(recorder.hostStartOf(cycle) - recorder.hostStartOf(cycle - 1) - recorder.cyclePeriod_[cycle - 1]);
        if (gap > recorder.worstGap_.load()) recorder.worstGap_.store(gap);
    }
    recorder.cycles_.store(cycle + 1);
    recorder.recorded_.store(at + frames);
    return 0;
}

double JackRecorder::hostStartOf(std::size_t cycle) const {
    return cycleStart_[cycle] - cycleJackMinusHost_[cycle];
}

std::uint64_t JackRecorder::hostTimeOfFrame(std::size_t index) const {
    const std::size_t cycle = index / period_;
    const double offset = static_cast<double>(index % period_) / static_cast<double>(period_);
    return static_cast<std::uint64_t>(cycleStart_[cycle] + offset * cyclePeriod_[cycle] - cycleJackMinusHost_[cycle]);
}

std::vector<float> JackRecorder::samples() const {
    return std::vector<float>(recording_.begin(), recording_.begin() + static_cast<std::ptrdiff_t>(recorded_.load()));
}

std::vector<std::size_t> JackRecorder::onsets() const {
    const auto recorded = samples();
    std::vector<std::size_t> found;
    std::size_t silent = 0;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        if (recorded[i] == 0.0F) {
            ++silent;
            continue;
        }
        if (silent >= kSilenceBeforeOnset) found.push_back(i);
        silent = 0;
    }
    return found;
}

}  // namespace kv::test

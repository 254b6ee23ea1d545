// Played keys and key lights on a JACK server with the dummy driver, with simulated keyboards:
// kv_bench_keyboard <kvplugin executable> [presses]
//  - key press on the simulator → note push received by a WebSocket client of the service;
//  - key press → echo sound in the service's JACK output;
//  - LED timing against a 1,000-note plan, and the CPU of the LED worker meanwhile;
//  - ping round trips and the service's memory while a keyboard floods it.
// Prints milliseconds. The service runs as its own process on ports 19420/19520.
#include "base/HostClock.h"
#include "leds/KVLedController.h"
#include "leds/KVLedScheduler.h"

#include "BenchResults.h"
#include "support/JackServer.h"
#include "support/KeyboardSim.h"
#include "support/TempDirectory.h"
#include "support/WsClient.h"

#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using kv::test::KeyboardSim;

struct Summary {
    double mean = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

Summary summarize(std::vector<double> values, bool magnitudes) {
    Summary summary;
    if (values.empty()) return summary;
    for (double v : values) summary.mean += v;
    summary.mean /= static_cast<double>(values.size());
    if (magnitudes) for (double& v : values) v = std::abs(v);
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))]; };
    summary.p50 = at(0.5);
    summary.p99 = at(0.99);
    summary.max = values.back();
    return summary;
}

std::uint64_t sentTime(KeyboardSim& sim, std::size_t index) {
    std::size_t seen = 0;
    for (const auto& line : sim.lines()) {
        if (line.find(" sent 9") == std::string::npos) continue;
        if (seen++ == index) return std::stoull(line);
    }
    return 0;
}

// CPU time of this process's thread with the given name, in nanoseconds.
std::uint64_t threadCpuNs(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName != name) continue;
        std::ifstream schedstat(task.path() / "schedstat");
        std::uint64_t ns = 0;
        schedstat >> ns;
        return ns;
    }
    return 0;
}

void benchLeds() {
    KeyboardSim sim("LedBench");
    kv::KVLedController controller;
    kv::KVLedScheduler scheduler(controller);
    if (!sim.ready() || !controller.openPortWithRawName("LedBench:LedBench")) {
        std::puts("LED benchmark: no port");
        return;
    }
    // A connected keyboard starts dark and known to be dark, as the device manager leaves it.
    controller.forceAllOff();
    std::this_thread::sleep_for(300ms);
    const std::size_t before = sim.leds().size();
    nlohmann::json plan = nlohmann::json::array();
    std::map<std::pair<int, bool>, std::vector<double>> planned;
    for (int i = 0; i < 1000; ++i) {
        const int key = 21 + i % 88;
        const double on = 500 + i * 10.0;
        plan.push_back({{"note", key}, {"staff", 1}, {"flashFrom", on - 100}, {"time", on}, {"offTime", on + 50}});
        planned[{key, true}].push_back(on);
        planned[{key, false}].push_back(on + 50);
    }
    scheduler.parseAndSetPlanFromJson(plan, 0);
    const auto wallStart = std::chrono::system_clock::now() + 300ms;
    const std::uint64_t hostStart = kv::host_clock::hostTimeForWallClock(wallStart);
    scheduler.startAtHostTime(hostStart);
    std::this_thread::sleep_for(300ms + 500ms + 9500ms);
    const std::uint64_t workerCpu = threadCpuNs("KVLedScheduler");
    std::this_thread::sleep_for(1500ms);
    scheduler.stop();

    // Each change against the nearest planned one of its key: a lost message shifts nothing.
    std::vector<double> errors;
    const auto leds = sim.leds();
    for (std::size_t i = before; i < leds.size(); ++i) {
        const auto& led = leds[i];
        const double at = (static_cast<double>(led.monotonicNs) - static_cast<double>(hostStart)) / 1e6;
        double nearest = 1e12;
        for (double time : planned[{led.key, led.on}]) {
            if (std::abs(at - time) < std::abs(nearest)) nearest = at - time;
        }
        if (std::abs(nearest) < 1e11) errors.push_back(nearest);
    }
    const Summary s = summarize(errors, true);
    kv::test::saveBenchResults("leds", {{"led plan", errors}});
    std::printf("LED plan, 1,000 notes over 10 s (2,000 changes, %zu received): error mean %+.3f ms, p99 |%.3f| ms, "
                "max |%.3f| ms; LED worker CPU %.1f ms over 9.5 s (%.2f %%)\n",
                errors.size(), summarize(errors, false).mean, s.p99, s.max, workerCpu / 1e6,
                workerCpu / 1e6 / 9500 * 100);
}

// Frames where the echo starts: rising to loud after 10 ms far quieter (a released piano note rings on
// quietly for a long time, so exact silence never comes between presses).
std::vector<std::size_t> loudOnsets(const std::vector<float>& samples) {
    float peak = 0;
    for (float v : samples) peak = std::max(peak, std::abs(v));
    const float kLoud = 0.25F * peak;
    const float kQuiet = 0.08F * peak;
    constexpr std::size_t kQuietFrames = 480;
    std::vector<std::size_t> onsets;
    std::size_t quiet = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float level = std::abs(samples[i]);
        if (level >= kQuiet && quiet >= kQuietFrames) {
            const auto end = std::min(samples.size(), i + kQuietFrames);
            const bool loud = std::any_of(samples.begin() + static_cast<std::ptrdiff_t>(i),
                                          samples.begin() + static_cast<std::ptrdiff_t>(end),
                                          [&](float v) { return std::abs(v) >= kLoud; });
            if (loud) onsets.push_back(i);
        }
        quiet = level < kQuiet ? quiet + 1 : 0;
    }
    return onsets;
}

pid_t spawnService(const std::string& executable) {
    std::vector<std::string> arguments = {executable};
    std::vector<char*> argv = {arguments[0].data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void benchKeys(const std::string& executable, int presses) {
    kv::test::TempDirectory dataHome;
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    setenv("KVPLUGIN_AUDIO_API", "jack", 1);
    setenv("KVPLUGIN_MIDI_API", "jack", 1);
    KeyboardSim sim("KeyBench");
    const pid_t service = spawnService(executable);
    for (int i = 0; i < 200 && !kv::test::portAcceptsConnections(19420); ++i) std::this_thread::sleep_for(50ms);
    {
        kv::test::WsClient client(19420);
        const auto send = [&](const nlohmann::json& request) {
            client.sendText(request.dump());
            return client.receive(3s);
        };
        send({{"methodName", 23}, {"clientID", "1"}, {"token", "t"}, {"data", {{"speakerPc", true}, {"virtualPianoSoundVolume", 100}}}});
        std::this_thread::sleep_for(1500ms);  // the keyboard is listed and connected; its list pushed
        while (client.receive(300ms)) {
        }
        kv::test::WsClient browser(19420);
        browser.sendText(R"({"methodName":53,"functionId":"k"})");
        browser.receive(3s);

        kv::test::JackRecorder recorder(getenv("JACK_DEFAULT_SERVER"), "KVPlugin", presses * 0.55 + 3);
        std::this_thread::sleep_for(500ms);
        std::vector<double> pushLatency;
        int lost = 0;
        for (int i = 0; i < presses; ++i) {
            sim.command("60 100");
            // A receive that times out drops the connection: wait for the key a second, then look.
            const auto pushed = browser.receive(1s);
            const std::uint64_t received = kv::host_clock::now();
            if (!pushed) {
                std::printf("press %d: no note push within 1 s\n", i);
                ++lost;
                break;
            }
            std::this_thread::sleep_for(100ms);
            sim.command("60 0");
            std::this_thread::sleep_for(400ms);
            const std::uint64_t sent = sentTime(sim, static_cast<std::size_t>(i));
            if (sent) pushLatency.push_back(static_cast<double>(received - sent) / 1e6);
        }
        std::this_thread::sleep_for(500ms);
        std::vector<double> echoLatency;
        const auto samples = recorder.samples();
        const auto onsets = loudOnsets(samples);
        std::size_t onset = 0;
        for (int i = 0; i < presses; ++i) {
            const std::uint64_t sent = sentTime(sim, static_cast<std::size_t>(i));
            while (onset < onsets.size() && recorder.hostTimeOfFrame(onsets[onset]) < sent) ++onset;
            if (onset == onsets.size()) break;
            const double latency = static_cast<double>(recorder.hostTimeOfFrame(onsets[onset]) - sent) / 1e6;
            if (latency < 100) echoLatency.push_back(latency);  // else this press's onset was not told apart
        }
        kv::test::saveBenchResults("keys", {{"note push", pushLatency}, {"echo sound", echoLatency}});
        const Summary push = summarize(pushLatency, false);
        const Summary echo = summarize(echoLatency, false);
        std::printf("Key press → note push at the WebSocket client, %zu presses (%d lost): p50 %.3f ms, p99 %.3f ms, "
                    "max %.3f ms\n", pushLatency.size(), lost, push.p50, push.p99, push.max);
        std::printf("Key press → echo sound in the service's JACK output, %zu presses: p50 %.3f ms, p99 %.3f ms, "
                    "max %.3f ms\n", echoLatency.size(), echo.p50, echo.p99, echo.max);
    }
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);
}

double statusMegabytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
    }
    return 0;
}

// A keyboard that sends a 64 KiB SysEx, then 10,000 presses a second for 5 s, while a client
// pings the service every 100 ms.
void benchFlood(const std::string& executable) {
    kv::test::TempDirectory dataHome;
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    KeyboardSim sim("FloodBench");
    const pid_t service = spawnService(executable);
    for (int i = 0; i < 200 && !kv::test::portAcceptsConnections(19420); ++i) std::this_thread::sleep_for(50ms);
    {
        kv::test::WsClient client(19420);
        std::this_thread::sleep_for(1500ms);  // the keyboard is listed and connected
        const double before = statusMegabytes(service, "VmRSS");
        sim.command("sysex 65536");
        sim.command("flood 10000 5");
        std::vector<double> pings;
        for (int i = 0; i < 45; ++i) {
            const std::uint64_t start = kv::host_clock::now();
            client.sendText(R"({"methodName":1,"functionId":"p"})");
            if (!client.receive(3s)) break;
            pings.push_back(static_cast<double>(kv::host_clock::now() - start) / 1e6);
            std::this_thread::sleep_for(100ms);
        }
        sim.waitForLine("flood done", 10s);
        const Summary ping = summarize(pings, false);
        std::printf("Keyboard flood (10,000 presses/s for 5 s): ping p50 %.3f ms, max %.3f ms over %zu pings; "
                    "service resident %.1f MB before, peak %.1f MB\n",
                    ping.p50, ping.max, pings.size(), before, statusMegabytes(service, "VmHWM"));
    }
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: kv_bench_keyboard <kvplugin executable> [presses]\n", stderr);
        return 2;
    }
    const int presses = argc > 2 ? std::atoi(argv[2]) : 100;
    kv::test::JackServer server(64, kv::test::JackServer::Scheduling::normal);
    if (!server.running()) return 1;
    std::printf("JACK dummy driver, 48 kHz, 64-frame periods (1.33 ms)\n");
    benchLeds();
    benchKeys(argv[1], presses);
    benchFlood(argv[1]);
    return 0;
}

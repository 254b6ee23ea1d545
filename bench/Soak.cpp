// The service under a mixed load for a while:
//   kv_soak <kvplugin> <seconds> [longest ping in ms] [memory growth in MB]
//   four clients sending random valid and invalid requests, a keyboard pressing 200 keys a second,
//   a second keyboard plugged in and out, prepare/play/stop cycles of a MIDI song and of a stem
//   song, WebSocket pings every 100 ms, a new TLS certificate every 35 s. Prints the figures and
//   exits non-zero when one is out of bounds: resident memory growing 5 MB (or the bound given) or
//   more after the warm-up, descriptors or threads growing, a ping waiting the longest (50 ms) or
//   more, a request unanswered, a certificate rotation not served over wss, an acknowledged
//   practice save missing from the store, a store that fails its integrity check, or a service
//   that does not stop cleanly.
#include "core/CertManager.h"

#include "BenchResults.h"
#include "support/CertificateServer.h"
#include "support/HttpsTestServer.h"
#include "support/JackServer.h"
#include "support/KeyboardSim.h"
#include "support/Mp3Files.h"
#include "support/RawWsPeer.h"
#include "support/RequestText.h"
#include "support/TempDirectory.h"
#include "support/WsClient.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
    double rss = 0;  // MB
    int fds = 0;
    int threads = 0;
};

Figures figuresOf(pid_t pid) {
    Figures figures;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) figures.rss = std::stod(line.substr(6)) / 1024;
        if (line.starts_with("Threads:")) figures.threads = std::stoi(line.substr(8));
    }
    std::error_code error;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        ++figures.fds;
    }
    return figures;
}

pid_t startService(const std::string& binary, const fs::path& home, const std::string& manifestUrl) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        if (!variable.starts_with("XDG_") && !variable.starts_with("KVPLUGIN_")) environment.emplace_back(variable);
    }
    for (const std::string& variable :
         {"XDG_DATA_HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(), "XDG_RUNTIME_DIR=" + (home / "run").string(),
          std::string("KVPLUGIN_AUDIO_API=jack"), std::string("KVPLUGIN_MIDI_API=jack"),
          std::string("KVPLUGIN_SOUNDFONT=/usr/share/sounds/sf2/TimGM6mb.sf2"),
          "KVPLUGIN_CERT_MANIFEST_URL=" + manifestUrl}) {
        environment.push_back(variable);
    }
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = binary;
    std::string headless = "--headless";
    char* argv[] = {path.data(), headless.data(), nullptr};
    pid_t pid = -1;
    const int devNull = ::open("/dev/null", O_WRONLY);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, devNull, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(devNull);
    return pid;
}

// One track, eight quarter notes at 120 a minute.
std::vector<std::uint8_t> song() {
    std::vector<std::uint8_t> events = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC0, 0x00};
    for (std::uint8_t note = 60; note < 68; ++note) {
        for (std::uint8_t byte : {std::uint8_t{0x00}, std::uint8_t{0x90}, note, std::uint8_t{100}, std::uint8_t{0x83}, std::uint8_t{0x60},
                                  std::uint8_t{0x80}, note, std::uint8_t{0}}) {
            events.push_back(byte);
        }
    }
    for (std::uint8_t byte : {0x00, 0xFF, 0x2F, 0x00}) events.push_back(byte);
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0,
                                      static_cast<std::uint8_t>(events.size())};
    file.reserve(file.size() + events.size());
    for (const std::uint8_t byte : events) file.push_back(byte);
    return file;
}

std::string request(int method, const json& data, const std::string& id) {
    return json{{"methodName", method}, {"functionId", id}, {"clientID", "7"}, {"data", data}}.dump();
}

// The answer to `id`, skipping pushes.
std::optional<json> answerTo(kv::test::WsClient& client, const std::string& id, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto text = client.receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!text) return std::nullopt;
        const auto message = json::parse(*text, nullptr, false);
        if (message.is_object() && message.value("functionId", "") == id) return message;
    }
    return std::nullopt;
}

class Soak {
public:
    Soak(std::string binary, int seconds, double longestPingMs, double memoryGrowthMb)
        : binary_(std::move(binary)), seconds_(seconds), longestPingMs_(longestPingMs), memoryGrowthMb_(memoryGrowthMb) {}
    int run();

private:
    void client(int number);
    void lesson();
    void keyboards();
    void pings();
    void certificates();
    bool rotate(int version);
    // A part of the load that fails (a connection the service dropped, say) counts as a failure
    // and ends that part; the others run on.
    template <class Part>
    auto guarded(Part part) {
        return [this, part] {
            try {
                part();
            } catch (const std::exception& error) {
                std::printf("a part of the load failed: %s\n", error.what());
                ++failures_;
            }
        };
    }
    bool verify();

    std::string binary_;
    int seconds_;
    double longestPingMs_;
    double memoryGrowthMb_;
    kv::test::TempDirectory home_;
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    std::set<std::pair<int, int>> acknowledged_;  // (song, seconds) of each acknowledged practice save
    std::atomic<long> requests_{0};
    std::atomic<long> cycles_{0};
    std::atomic<long> failures_{0};
    std::atomic<long> rotations_{0};
    std::vector<double> pingMillis_;  // under mutex_
    std::unique_ptr<kv::test::HttpsTestServer> stems_;
    kv::test::CertificateServer certificateServer_{kv::CertManager::kPfxPassword};
    std::array<std::string, 2> certificatePems_;  // by version parity
};

void Soak::client(int number) {
    std::mt19937 random(static_cast<unsigned>(number) * 7919U);
    kv::test::WsClient client(19420);
    const std::vector<std::string> hostile = {
        "not json", "[]", R"({"methodName":"9x"})", R"({"methodName":50,"data":{"seconds":-1e308,"songID":"1abc"}})",
        R"({"methodName":6,"data":{"id":99999999999,"midiFile":"@@@"}})", R"({"methodName":49,"clientID":"99999999999999999999"})",
        R"({"methodName":60,"data":{"ledNotes":[{"note":1e300}]}})", R"({"methodName":12345})", R"({"methodName":3,"data":"text"})"};
    long sent = 0;
    while (running_) {
        const std::string id = "c" + std::to_string(number) + "-" + std::to_string(sent++);
        switch (random() % 6) {
            case 0: client.sendText(request(1, nullptr, id)); break;
            case 1: client.sendText(request(3, nullptr, id)); break;
            case 2: {
                const int seconds = static_cast<int>(random() % 100000) + 1;
                client.sendText(request(50, {{"seconds", seconds}, {"songID", 900 + number}, {"rednote", 1}}, id));
                const auto answer = answerTo(client, id);
                if (answer && (*answer)["data"].value("code", -1) == 0) {
                    const std::lock_guard lock(mutex_);
                    acknowledged_.insert({900 + number, seconds});
                }
                ++requests_;
                continue;
            }
            case 3: client.sendText(request(5, {{"id", 800 + number}}, id)); break;
            case 4: client.sendText(request(58, nullptr, id)); break;
            default: client.sendText(hostile[random() % hostile.size()]); ++requests_; continue;
        }
        if (!answerTo(client, id)) ++failures_;
        ++requests_;
    }
}

// Prepare, play and stop, a MIDI song and a stem song in turn; the keys played meanwhile are
// recorded by the play.
void Soak::lesson() {
    kv::test::WsClient client(19420);
    client.sendText(request(6, {{"id", 77}, {"midiFile", kv::test::base64(song())}, {"lastMidiModified", "s"}}, "save"));
    answerTo(client, "save");
    const json stems = json::array({{{"instrument_id", 1}, {"tempo", 120}, {"link", stems_->url("/files/tone.mp3")},
                                     {"last_modified", "v1"}, {"index", 0}, {"instrument_name", "Piano"}}});
    for (long cycle = 0; running_; ++cycle) {
        json prepare = {{"songId", 77}, {"tempo", 100 + cycle % 40}, {"tickSpacing", 250},
                        {"listCountOffSound", json::array({"oneSound", "twoSound", "threeSound", "fourSound"})}};
        if (cycle % 2 == 1) {
            prepare["isPlayAudio"] = true;
            prepare["audioFiles"] = stems;
        }
        const std::string id = "l" + std::to_string(cycle);
        client.sendText(request(9, prepare, id + "p"));
        const auto prepared = answerTo(client, id + "p");
        if (!prepared || (*prepared)["data"].value("code", -1) != 0) ++failures_;
        client.sendText(request(12, {{"songId", 77}, {"startTime", kv::test::utcTextIn(300ms)},
                                     {"accompanimentVolume", 60}, {"metronomeVolume", 30}},
                                id + "s"));
        if (!answerTo(client, id + "s")) ++failures_;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500 + cycle % 3 * 700));
        client.sendText(request(10, nullptr, id + "x"));
        if (!answerTo(client, id + "x")) ++failures_;
        ++cycles_;
    }
}

// 200 keys a second on one keyboard; another one plugged in and out every few seconds.
void Soak::keyboards() {
    kv::test::KeyboardSim keys("Soak Keys");
    std::unique_ptr<kv::test::KeyboardSim> extra;
    for (int turn = 0; running_; ++turn) {
        keys.command("flood 200 2");
        if (turn % 3 == 0) {
            extra = extra ? nullptr : std::make_unique<kv::test::KeyboardSim>("Soak Extra");
        }
        for (int i = 0; i < 20 && running_; ++i) std::this_thread::sleep_for(100ms);
    }
}

// A ping over the bound is printed when it comes, to be set beside what the load did then.
void Soak::pings() {
    kv::test::RawWsPeer peer(19420);
    const auto began = Clock::now();
    while (running_) {
        const auto sent = Clock::now();
        if (!peer.sendPing("p") || !peer.receivePong(5s)) {
            ++failures_;
            return;
        }
        const double millis = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (millis >= longestPingMs_) {
            std::printf("slow ping: %.2f ms, %.1f s into the run\n", millis,
                        std::chrono::duration<double>(sent - began).count());
        }
        {
            const std::lock_guard lock(mutex_);
            pingMillis_.push_back(millis);
        }
        std::this_thread::sleep_for(100ms);
    }
}

// Announces the version (certificates "even" and "odd" in turn), makes the service look at once
// with a TLS handshake that fails, and checks that wss then serves the new certificate: the
// listener closes for a moment while it changes certificates, and until then serves the old one.
bool Soak::rotate(int version) {
    certificateServer_.announce(std::to_string(version), version % 2 ? "odd" : "even");
    try {
        kv::test::WsClient refuses(19520, kv::test::WsClient::TlsTrust{certificatePems_.at((version + 1) % 2)});
    } catch (const std::exception&) {
        // the handshake fails, as meant
    }
    if (!kv::test::waitForCertificateState(home_.path() / "Keyvora" / "cert", std::to_string(version))) return false;
    for (int attempt = 0; attempt < 50 && running_; ++attempt) {
        try {
            kv::test::WsClient client(19520, kv::test::WsClient::TlsTrust{certificatePems_.at(version % 2)});
            client.sendText(request(1, nullptr, "tls"));
            return answerTo(client, "tls", 5s).has_value();
        } catch (const std::exception&) {
            std::this_thread::sleep_for(100ms);
        }
    }
    return !running_;
}

// A new certificate every 35 s: the service looks at once after a failed handshake, at most
// every 30 s.
void Soak::certificates() {
    for (int version = 1; running_; ++version) {
        for (int i = 0; i < 350 && running_; ++i) std::this_thread::sleep_for(100ms);
        if (!running_) return;
        if (rotate(version)) {
            ++rotations_;
        } else {
            std::printf("certificate version %d was not served\n", version);
            ++failures_;
        }
    }
}

// Every acknowledged practice save is in the store, and the store is whole. The store is read
// directly: an hour's saves are millions of rows, more than one answer of the service carries.
bool Soak::verify() {
    const auto database = home_.path() / "com.keyvora.kvplugin" / "keyvora.sqlite";
    SQLite::Database store(database.string(), SQLite::OPEN_READONLY);
    const std::string integrity = store.execAndGet("PRAGMA integrity_check").getString();
    std::printf("integrity_check: %s\n", integrity.c_str());
    std::set<std::pair<int, int>> stored;
    SQLite::Statement saves(store, "SELECT songID, seconds FROM PracticeMinutes WHERE clientID = '7'");
    while (saves.executeStep()) stored.insert({saves.getColumn(0).getInt(), saves.getColumn(1).getInt()});
    std::size_t missing = 0;
    for (const auto& save : acknowledged_) missing += stored.count(save) == 0;
    std::printf("practice saves acknowledged: %zu, missing afterwards: %zu\n", acknowledged_.size(), missing);
    return integrity == "ok" && missing == 0;
}

int Soak::run() {
    kv::test::JackServer jack;
    if (!jack.running()) return 2;
    stems_ = std::make_unique<kv::test::HttpsTestServer>(kv::test::HttpsTestServer::Scheme::http);
    kv::test::writeToneMp3(home_.path() / "tone.mp3", 3.0, 440);
    stems_->copy(home_.path() / "tone.mp3", "tone.mp3");
    certificatePems_[0] = certificateServer_.add("even");
    certificatePems_[1] = certificateServer_.add("odd");
    certificateServer_.announce("0", "even");
    const pid_t pid = startService(binary_, home_.path(), certificateServer_.manifestUrl());
    for (int i = 0; i < 100 && !kv::test::portAcceptsConnections(19420); ++i) std::this_thread::sleep_for(50ms);
    std::vector<std::thread> load;
    for (int number = 0; number < 4; ++number) load.emplace_back(guarded([this, number] { client(number); }));
    load.emplace_back(guarded([this] { lesson(); }));
    load.emplace_back(guarded([this] { keyboards(); }));
    load.emplace_back(guarded([this] { pings(); }));
    load.emplace_back(guarded([this] { certificates(); }));

    const auto began = Clock::now();
    const auto warmUp = began + std::chrono::seconds(std::max(10, seconds_ / 5));
    std::optional<Figures> warm;
    Figures last;
    nlohmann::json memory = nlohmann::json::array();  // [seconds, MB] every 10 s
    for (int second = 1; Clock::now() - began < std::chrono::seconds(seconds_); ++second) {
        std::this_thread::sleep_for(1s);
        last = figuresOf(pid);
        if (!warm && Clock::now() >= warmUp) warm = last;
        if (second % 10 == 0) memory.push_back({second, last.rss});
    }
    running_ = false;
    for (auto& thread : load) thread.join();
    std::this_thread::sleep_for(2s);  // the last plays and connections wind down
    const Figures settled = figuresOf(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const bool stoppedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;

    std::vector<double> pings;
    {
        const std::lock_guard lock(mutex_);
        pings = pingMillis_;
    }
    std::sort(pings.begin(), pings.end());
    const double p99 = pings.empty() ? 0 : pings[static_cast<std::size_t>(0.99 * static_cast<double>(pings.size() - 1))];
    const double worst = pings.empty() ? 0 : pings.back();
    if (!warm) warm = last;
    std::printf("soak of %d s: %ld requests, %ld lessons, %ld certificate rotations, %ld failures\n", seconds_, requests_.load(),
                cycles_.load(), rotations_.load(), failures_.load());
    std::printf("resident memory: %.1f MB after warm-up, %.1f MB at the end (%+.1f MB)\n", warm->rss, settled.rss, settled.rss - warm->rss);
    std::printf("descriptors: %d after warm-up, %d at the end; threads: %d, %d\n", warm->fds, settled.fds, warm->threads,
                settled.threads);
    std::printf("WebSocket pings: %zu, p99 %.2f ms, max %.2f ms\n", pings.size(), p99, worst);
    std::printf("stopped cleanly: %s\n", stoppedCleanly ? "yes" : "no");
    kv::test::saveBenchResults("soak", {{"seconds", seconds_}, {"resident MB", memory}, {"requests", requests_.load()}, {"certificate rotations", rotations_.load()},
                                        {"ping p99 ms", p99}, {"ping max ms", worst}});
    const bool verified = verify();
    const bool ok = settled.rss - warm->rss < memoryGrowthMb_ && settled.fds <= warm->fds && settled.threads <= warm->threads && worst < longestPingMs_ &&
                    failures_ == 0 && stoppedCleanly && verified;
    std::printf("%s\n", ok ? "soak passed" : "SOAK FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the figures reach a log file even if the run dies
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <kvplugin> <seconds> [longest ping in ms] [memory growth in MB]\n", argv[0]);
        return 2;
    }
    return Soak(argv[1], std::stoi(argv[2]), argc > 3 ? std::stod(argv[3]) : 50, argc > 4 ? std::stod(argv[4]) : 5).run();
}

// The kvplugin executable as a student runs it: ports, one copy, the command line, and what a
// kill or a full disk at any moment leaves behind.
#include "core/CacheCipher.h"
#include "core/CertManager.h"
#include "platform/net/PortListeners.h"
#include "stems/StemFiles.h"

#include "support/CertificateServer.h"
#include "support/Eventually.h"
#include "support/HttpsTestServer.h"
#include "support/MidiFileBuilder.h"
#include "support/RequestText.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"
#include "support/WsClient.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <SQLiteCpp/SQLiteCpp.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <iterator>
#include <thread>

extern char** environ;

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kNoCertificateServer = "https://127.0.0.1:9/kv-cert/130717/manifest.json";

// The environment of a service whose data, settings and lock are in `home`.
std::vector<std::string> environmentFor(const fs::path& home, const std::string& manifestUrl = kNoCertificateServer) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        if (!variable.starts_with("XDG_") && !variable.starts_with("KVPLUGIN_") && !variable.starts_with("DISPLAY=") &&
            !variable.starts_with("WAYLAND_DISPLAY=")) {
            environment.emplace_back(variable);
        }
    }
    for (const auto& [name, value] : {std::pair{"XDG_DATA_HOME=", home}, {"XDG_CONFIG_HOME=", home / "config"},
                                      {"XDG_RUNTIME_DIR=", home / "run"}}) {
        environment.push_back(name + value.string());
    }
    environment.push_back("KVPLUGIN_CERT_MANIFEST_URL=" + manifestUrl);
    return environment;
}

// The kvplugin executable, headless, killed when the test ends.
class ServiceProcess {
public:
    explicit ServiceProcess(const fs::path& home, const std::string& manifestUrl = kNoCertificateServer) {
        auto environment = environmentFor(home, manifestUrl);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(KVPLUGIN_BINARY), const_cast<char*>("--headless"), nullptr};
        // Only the service's own descriptors: none of the test's.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServiceProcess() { kill(SIGKILL); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The exit status once it ends by itself within the time, or -1.
    int waitForExit(std::chrono::seconds within) {
        int status = 0;
        if (!test::eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, within)) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The exit status after the signal, or -1.
    int kill(int signal) {
        if (pid_ <= 0) return -1;
        ::kill(pid_, signal);
        return waitForExit(3600s);
    }
    pid_t pid() const { return pid_; }
    // This process, not another one, listens on the port.
    bool listensOn(std::uint16_t port) const {
        return pid_ > 0 && test::eventually([&] { return kv::listensOn(pid_, port); });
    }

private:
    pid_t pid_ = -1;
};

json roundTrip(test::WsClient& client, const json& request, std::chrono::seconds within = 10s) {
    client.sendText(request.dump());
    return json::parse(client.receive(within).value_or("null"));
}

json ping(std::uint16_t port) {
    test::WsClient client(port);
    return roundTrip(client, {{"methodName", 1}, {"functionId", "f1"}});
}

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// `kvplugin` with the options as a supporter would type them: the exit status and what it printed.
std::pair<int, std::string> commandLine(const fs::path& home, const std::string& options) {
    std::string command;
    for (const auto& variable : environmentFor(home)) {
        if (variable.starts_with("XDG_")) command += variable + " ";
    }
    FILE* pipe = popen((command + KVPLUGIN_BINARY + " " + options + " 2>&1").c_str(), "r");
    std::string output;
    char chunk[4096];
    while (pipe && fgets(chunk, sizeof chunk, pipe)) output += chunk;
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

json saveMidi(int song, const std::vector<std::uint8_t>& content) {
    return {{"methodName", 6}, {"functionId", "s"},
            {"data", {{"id", song}, {"midiFile", test::base64(content)}, {"lastMidiModified", "x"}}}};
}

json prepareStem(int song, const std::string& link) {
    return {{"methodName", 9}, {"functionId", "p"}, {"clientID", "7"},
            {"data", {{"songId", song}, {"tempo", 100}, {"isPlayAudio", true},
                      {"audioFiles", {{{"instrument_id", 1}, {"tempo", 100}, {"link", link}, {"last_modified", "v"},
                                       {"index", 0}, {"instrument_name", "Piano"}}}}}}};
}

std::vector<std::uint8_t> randomBytes(std::mt19937& random, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

// What a program the service starts would inherit: its descriptors above standard error that are
// not closed on exec, by what they are.
std::vector<std::string> inheritedOnExec(pid_t pid) {
    std::vector<std::string> inherited;
    const fs::path fds = fs::path("/proc") / std::to_string(pid) / "fd";
    std::error_code error;
    for (fs::directory_iterator it(fds, error), end; !error && it != end; it.increment(error)) {
        const std::string fd = it->path().filename().string();
        if (std::stoi(fd) <= 2) continue;
        const std::string info = fileText(fs::path("/proc") / std::to_string(pid) / "fdinfo" / fd);
        const auto flags = info.find("flags:");
        if (flags == std::string::npos) continue;  // closed meanwhile
        std::error_code linkError;
        if ((std::stoul(info.substr(flags + 6), nullptr, 8) & O_CLOEXEC) == 0) {
            inherited.push_back(fd + " " + fs::read_symlink(it->path(), linkError).string());
        }
    }
    return inherited;
}

TEST(ServiceProcess, ServesWsAndWssOnLoopbackAsOneCopyThatTheCommandLineAsks) {
    ASSERT_FALSE(test::portAcceptsConnections(19420)) << "another service holds 19420";
    test::TempDirectory home;
    const auto [statusAlone, alone] = commandLine(home.path(), R"(--request '{"methodName":1}')");
    EXPECT_EQ(statusAlone, 1) << alone;

    ServiceProcess service(home.path());
    ASSERT_TRUE(service.listensOn(19420) && service.listensOn(19520));
    EXPECT_TRUE(ping(19420)["data"]["pluginVersion"].is_string());
    test::WsClient secure(19520, test::WsClient::TlsTrust{fileText(KVPLUGIN_LUMEN_PEM)});
    EXPECT_EQ(roundTrip(secure, {{"methodName", 1}, {"functionId", "tls"}})["functionId"], "tls");
    EXPECT_EQ(inheritedOnExec(service.pid()), std::vector<std::string>{}) << "a browser opened from the tray would keep them";
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor other(context);
    boost::system::error_code error;
    other.open(boost::asio::ip::tcp::v4());
    other.bind({boost::asio::ip::make_address("127.0.0.2"), 19420}, error);
    EXPECT_FALSE(error) << "the service bound more than 127.0.0.1: " << error.message();

    ServiceProcess second(home.path());
    EXPECT_EQ(second.waitForExit(10s), 1) << "the second copy runs on";
    const auto [status, answer] = commandLine(home.path(), R"(--request '{"methodName":1,"functionId":"cli"}')");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(json::parse(answer)["functionId"], "cli");
    EXPECT_EQ(commandLine(home.path(), "--request '[1, 2]'").first, 2);
    EXPECT_NE(commandLine(home.path(), "--doctor").second.find("19420 (ws): held by this service"), std::string::npos);
    EXPECT_EQ(service.kill(SIGTERM), 0);

    const std::string log = fileText(home.path() / "com.keyvora.kvplugin" / "Logger" / "logfile-0.log");
    const auto start = log.find("=============START KEYVORA============");
    EXPECT_EQ(log.find("=============START KEYVORA============", start + 1), std::string::npos)
        << "the second copy opened the store";
    EXPECT_LT(start, log.find("=============STOP KEYVORA=============")) << "SIGTERM stops in order";
    EXPECT_TRUE(fs::exists(home.path() / "config" / "autostart" / "kvplugin.desktop"));
}

// A play waits 50 s for its start: SIGTERM ends the service at once all the same, and the next
// copy starts.
TEST(ServiceProcess, SigtermEndsTheServiceWhileAPlayWaitsForItsStart) {
    test::TempDirectory home;
    ServiceProcess service(home.path());
    ASSERT_TRUE(service.listensOn(19420));
    test::WsClient client(19420);
    test::MidiTrackBuilder track;
    track.event(0, {0x90, 60, 90}).event(480, {0x80, 60, 0});
    ASSERT_EQ(roundTrip(client, saveMidi(3, test::midiFile(480, {track})))["data"]["code"], 0);
    ASSERT_EQ(roundTrip(client, {{"methodName", 9}, {"functionId", "p"}, {"data", {{"songId", 3}, {"tempo", 100}}}})["data"]["code"], 0);
    client.sendText(json{{"methodName", 12}, {"data", {{"songId", 3}, {"startTime", test::utcTextIn(50s)}}}}.dump());
    EXPECT_FALSE(client.receive(500ms)) << "a play is answered at its start";
    ::kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.waitForExit(5s), 0);
    ServiceProcess next(home.path());
    EXPECT_TRUE(next.listensOn(19420));
}

// Killed outright while it saves MIDI files and practice minutes: every save it acknowledged
// reads back (a cached file byte-exact, or a later one of the same song it had no time to
// acknowledge), the database stays whole, and no temporary file ever bears a cached file's name.
TEST(ServiceProcess, AKilledServiceKeepsEveryAcknowledgedSave) {
    test::TempDirectory home;
    const auto root = home.path() / "com.keyvora.kvplugin";
    std::mt19937 random(20261207);
    std::map<int, std::vector<std::vector<std::uint8_t>>> sent;  // each song's contents in sending order
    std::map<int, std::size_t> acknowledged;                       // the index of the last acknowledged
    std::set<int> practiced;
    int seconds = 0;
    for (int round = 0; round < 50; ++round) {
        ServiceProcess service(home.path());
        ASSERT_TRUE(service.listensOn(19420));
        const auto lifetime = std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 400)(random));
        std::jthread killer([&service, lifetime] {
            std::this_thread::sleep_for(lifetime);
            ::kill(service.pid(), SIGKILL);
        });
        try {  // the kill ends the round at any point of an exchange
            test::WsClient client(19420);
            for (json answer; true;) {
                const int song = static_cast<int>(random() % 4);
                sent[song].push_back(randomBytes(random, std::uniform_int_distribution<std::size_t>(1000, 60000)(random)));
                answer = roundTrip(client, saveMidi(song, sent[song].back()), 3s);
                if (answer.is_null()) break;
                if (answer["data"]["code"] == 0) acknowledged[song] = sent[song].size() - 1;
                answer = roundTrip(client, {{"methodName", 50}, {"functionId", "p"}, {"clientID", "7"},
                                            {"data", {{"seconds", ++seconds}, {"songID", 5}, {"rednote", 1}}}}, 3s);
                if (answer.is_null()) break;
                if (answer["data"]["code"] == 0) practiced.insert(seconds);
            }
        } catch (const std::exception&) {
        }
        killer.join();
        for (const auto& [song, index] : acknowledged) {
            const auto plain = decryptData(fileBytes(root / "Cache" / (std::to_string(song) + "_Protected")));
            ASSERT_TRUE(plain) << "song " << song << ", round " << round;
            const auto& contents = sent[song];
            EXPECT_NE(std::find(contents.begin() + static_cast<std::ptrdiff_t>(index), contents.end(), *plain), contents.end())
                << "song " << song << " lost its acknowledged save in round " << round;
        }
        std::error_code noCacheYet;  // a kill before the first save
        for (const auto& entry : fs::directory_iterator(root / "Cache", noCacheYet)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.starts_with(".") || name.ends_with("_Protected")) << name;
        }
        if (practiced.empty()) continue;
        SQLite::Database store((root / "keyvora.sqlite").string(), SQLite::OPEN_READWRITE);
        ASSERT_EQ(store.execAndGet("PRAGMA integrity_check").getString(), "ok") << "round " << round;
        std::set<int> stored;
        for (SQLite::Statement rows(store, "SELECT seconds FROM PracticeMinutes"); rows.executeStep();) {
            stored.insert(std::stoi(rows.getColumn(0).getString()));
        }
        for (const int saved : practiced) ASSERT_TRUE(stored.count(saved)) << "practice save " << saved << " lost in round " << round;
    }
    EXPECT_GT(acknowledged.size() + practiced.size(), 20u);
}

// Killed at random moments while it downloads a song's stems: every stem file in the song's folder
// is whole; only a ".tmp" file may be cut short.
TEST(ServiceProcess, AKilledStemDownloadNeverLeavesAPartialStem) {
    test::TempDirectory home;
    test::HttpsTestServer server(test::HttpsTestServer::Scheme::http);
    std::string body = "ID3";
    body.resize(12 << 20, '\x11');
    server.put("big.mp3", body);
    const auto folder = home.path() / "com.keyvora.kvplugin" / "Cache" / "31";
    const auto partial = folder / (stem_files::fileName(1, 100, "v") + ".tmp");
    std::mt19937 random(31);
    int cutShort = 0;
    for (int round = 0; round < 50; ++round) {
        ServiceProcess service(home.path());
        ASSERT_TRUE(service.listensOn(19420));
        test::WsClient client(19420);
        fs::remove_all(folder);  // each round downloads anew
        client.sendText(prepareStem(31, server.url("/files/big.mp3")).dump());
        // Every other round waits for the transfer to have begun: a loaded machine may be slow to.
        if (round % 2) test::eventually([&] { return fs::exists(partial); });
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(round % 2 ? 0 : 5, round % 2 ? 20 : 300)(random)));
        service.kill(SIGKILL);
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            cutShort += entry.path().extension() == ".tmp";
            if (entry.path().extension() == ".mp3") {
                EXPECT_EQ(fs::file_size(entry.path()), body.size()) << "round " << round;
            }
        }
    }
    EXPECT_GT(cutShort, 0) << "no kill came during a transfer";
}

// Each start finds a new certificate version and installs it, and is killed at a random moment of
// it: the folder holds the old certificate or the new one whole and a state that reads, and the
// next start serves wss with the installed certificate and removes what the kills left.
TEST(ServiceProcess, AKilledCertificateInstallLeavesAWholeCertificate) {
    test::TempDirectory home;
    test::CertificateServer server(CertManager::kPfxPassword);
    std::map<std::string, std::string> served;  // certificate PEM → name
    for (const std::string name : {"first", "second"}) served[server.add(name)] = name;
    const auto folder = home.path() / "Keyvora" / "cert";
    const auto serve = [&](int round) { server.announce(std::to_string(round), round % 2 ? "second" : "first"); };
    std::mt19937 random(47);
    int installed = 0;
    for (int round = 0; round < 50; ++round) {
        serve(round);
        ServiceProcess service(home.path(), server.manifestUrl());
        // The install follows the listeners; some rounds wait for them, a few for the install.
        if (round % 10 == 5) {
            test::waitForCertificateState(folder, std::to_string(round));
        } else if (round % 2 == 1) {
            ASSERT_TRUE(service.listensOn(19420)) << "round " << round;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 150)(random)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 400)(random)));
        }
        service.kill(SIGKILL);
        if (fs::exists(folder / "current.pfx")) {
            ++installed;
            EXPECT_EQ(served.count(test::certificatePemOf(folder / "current.pfx", CertManager::kPfxPassword)), 1u) << round;
        }
        if (fs::exists(folder / "cert-state.json")) {
            EXPECT_TRUE(json::parse(fileText(folder / "cert-state.json"), nullptr, false).is_object()) << "round " << round;
        }
    }
    EXPECT_GT(installed, 0) << "no start got as far as installing";

    serve(50);
    ServiceProcess service(home.path(), server.manifestUrl());
    ASSERT_TRUE(service.listensOn(19520) && test::waitForCertificateState(folder, "50"));
    service.kill(SIGTERM);
    ServiceProcess restarted(home.path());
    ASSERT_TRUE(restarted.listensOn(19520));
    const std::string pem = test::certificatePemOf(folder / "current.pfx", CertManager::kPfxPassword);
    EXPECT_EQ(served.at(pem), "first");
    test::WsClient client(19520, test::WsClient::TlsTrust{pem});
    EXPECT_EQ(roundTrip(client, {{"methodName", 1}, {"functionId", "tls"}})["functionId"], "tls");
    for (const auto& entry : fs::directory_iterator(folder)) EXPECT_NE(entry.path().extension(), ".tmp");
}

// A small tmpfs mounted over a folder for as long as it lives; nothing when the system refuses.
class SmallDisk {
public:
    SmallDisk(const fs::path& folder, const std::string& size) : folder_(folder) {
        fs::create_directories(folder);
        mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    fs::path folder_;
    bool mounted_ = false;
};

// The store's disk fills up during cache, practice and stem saves: every request is answered, a
// failed save leaves the previous file and the database as they were, no partial stem stays, and
// the service goes on.
TEST(ServiceProcess, AFullDiskFailsSavesButLosesNothingAcknowledged) {
    test::TempDirectory home;
    const auto root = home.path() / "com.keyvora.kvplugin";
    SmallDisk disk(root, "3m");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    test::HttpsTestServer server(test::HttpsTestServer::Scheme::http);
    std::string stem = "ID3";
    stem.resize(12 << 20, '\x11');
    server.put("big.mp3", stem);
    ServiceProcess service(home.path());
    ASSERT_TRUE(service.listensOn(19420));
    test::WsClient client(19420);
    std::mt19937 random(7);
    std::map<int, std::vector<std::uint8_t>> cached;  // each song's last acknowledged contents
    std::set<int> practiced;                          // seconds of each acknowledged practice save
    int failed = 0;
    for (int round = 0; round < 40; ++round) {
        const auto content = randomBytes(random, 400000);
        const json saved = roundTrip(client, saveMidi(round % 3, content));
        ASSERT_TRUE(saved.is_object()) << "a save went unanswered";
        saved["data"].value("code", -1) == 0 ? void(cached[round % 3] = content) : void(++failed);
        for (int seconds = round * 100 + 1; seconds <= round * 100 + 20; ++seconds) {
            const json answer = roundTrip(client, {{"methodName", 50}, {"functionId", "p"}, {"clientID", "7"},
                                                  {"data", {{"seconds", seconds}, {"songID", 5}, {"rednote", 1}}}});
            ASSERT_TRUE(answer.is_object()) << "a practice save went unanswered";
            if (answer["data"].value("code", -1) == 0) practiced.insert(seconds);
        }
    }
    EXPECT_GT(failed, 0) << "the disk never filled";
    EXPECT_FALSE(cached.empty());
    for (const auto& [song, content] : cached) {
        EXPECT_EQ(decryptData(fileBytes(root / "Cache" / (std::to_string(song) + "_Protected"))), content) << song;
    }
    std::set<int> stored;
    const json read = roundTrip(client, {{"methodName", 49}, {"clientID", "7"}, {"data", {{"songID", 5}}}});
    for (const auto& segment : read["data"]) {
        stored.insert(segment["seconds"].is_string() ? std::stoi(segment["seconds"].get<std::string>()) : segment["seconds"].get<int>());
    }
    for (const int seconds : practiced) EXPECT_TRUE(stored.count(seconds)) << "practice save " << seconds << " lost";

    EXPECT_EQ(roundTrip(client, prepareStem(32, server.url("/files/big.mp3")), 30s)["functionId"], "p");
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "Cache" / "32", error)) ADD_FAILURE() << entry.path() << " stays";
    EXPECT_EQ(ping(19420)["functionId"], "f1") << "the service went on";
    EXPECT_EQ(service.kill(SIGTERM), 0);
    SQLite::Database store((root / "keyvora.sqlite").string(), SQLite::OPEN_READONLY);
    EXPECT_EQ(store.execAndGet("PRAGMA integrity_check").getString(), "ok");
}

}  // namespace
}  // namespace kv

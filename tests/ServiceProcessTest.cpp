#include "core/CacheCipher.h"
#include "core/CertManager.h"
#include "stems/StemFiles.h"

#include "support/CertificateServer.h"
#include "support/HttpsTestServer.h"
#include "support/Listener.h"
#include "support/RequestText.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"
#include "support/WsClient.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <SQLiteCpp/SQLiteCpp.h>

#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNoCertificateServer = "https://127.0.0.1:9/kv-cert/130717/manifest.json";

// The kvplugin executable with its store root in a temporary folder.
class ServiceProcess {
public:
    // Headless, with its data, settings and lock in the folder.
    explicit ServiceProcess(const std::filesystem::path& home, std::vector<std::string> arguments = {"--headless"},
                            const std::string& manifestUrl = kNoCertificateServer) {
        std::vector<std::string> environment = environmentFor(home, manifestUrl);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        arguments.insert(arguments.begin(), KVPLUGIN_BINARY);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    }

    static std::vector<std::string> environmentFor(const std::filesystem::path& home,
                                                   const std::string& manifestUrl = kNoCertificateServer) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view variable(*entry);
            if (!variable.starts_with("XDG_") && !variable.starts_with("KVPLUGIN_") && !variable.starts_with("DISPLAY=") &&
                !variable.starts_with("WAYLAND_DISPLAY=")) {
                environment.emplace_back(variable);
            }
        }
        environment.push_back("XDG_DATA_HOME=" + home.string());
        environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
        environment.push_back("XDG_RUNTIME_DIR=" + (home / "run").string());
        environment.push_back("KVPLUGIN_CERT_MANIFEST_URL=" + manifestUrl);
        return environment;
    }

    // The exit status once it ends by itself within the time, or -1.
    int waitForExit(std::chrono::seconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

    ~ServiceProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // The exit status after SIGTERM, or -1.
    int terminate() {
        int status = 0;
        kill(pid_, SIGTERM);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Waits until this process, not another one, listens on the port.
    bool listensOn(std::uint16_t port) const {
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (test::processListensOn(pid_, port)) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
};

nlohmann::json ping(std::uint16_t port) {
    test::WsClient client(port);
    client.sendText(R"({"methodName":1,"functionId":"f1"})");
    return nlohmann::json::parse(client.receive().value_or("null"));
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(ServiceProcess, ServesPingOnTheFirstPortAndLogsItsBanners) {
    ASSERT_FALSE(test::portAcceptsConnections(19420)) << "another service holds 19420";
    test::TempDirectory dataHome;
    ServiceProcess service(dataHome.path());
    ASSERT_TRUE(service.started());
    ASSERT_TRUE(service.listensOn(19420));
    const auto answer = ping(19420);
    EXPECT_EQ(answer["functionId"], "f1");
    EXPECT_TRUE(answer["data"]["pluginVersion"].is_string());
    EXPECT_EQ(service.terminate(), 0);

    const std::string log = fileText(dataHome.path() / "com.keyvora.kvplugin" / "Logger" / "logfile-0.log");
    EXPECT_NE(log.find("=============START KEYVORA============"), std::string::npos) << log;
    EXPECT_NE(log.find("=============STOP KEYVORA============="), std::string::npos) << log;
}

// `kvplugin --request` as a supporter would type it: the exit status and what it printed.
std::pair<int, std::string> request(const std::filesystem::path& home, const std::string& json) {
    std::string command;
    for (const auto& variable : ServiceProcess::environmentFor(home)) {
        if (variable.starts_with("XDG_")) command += variable + " ";
    }
    command += std::string(KVPLUGIN_BINARY) + " --request '" + json + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    while (pipe && fgets(chunk, sizeof chunk, pipe)) output += chunk;
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The launch in the log, a second copy that leaves at once, and the command line against the
// running service and against none.
TEST(ServiceProcess, ASecondCopyLeavesAtOnceAndTheCommandLineAsksTheRunningOne) {
    test::TempDirectory home;
    const auto [statusAlone, alone] = request(home.path(), R"({"methodName":1})");
    EXPECT_EQ(statusAlone, 1) << alone;
    EXPECT_NE(alone.find("no answer from the service"), std::string::npos) << alone;

    ServiceProcess service(home.path());
    ASSERT_TRUE(service.listensOn(19420));
    ServiceProcess second(home.path());
    EXPECT_EQ(second.waitForExit(10s), 1) << "the second copy runs on";

    const auto [status, answer] = request(home.path(), R"({"methodName":1,"functionId":"cli"})");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(nlohmann::json::parse(answer)["functionId"], "cli");
    EXPECT_EQ(request(home.path(), "[1, 2]").first, 2);
    EXPECT_EQ(service.terminate(), 0);

    const std::string log = fileText(home.path() / "com.keyvora.kvplugin" / "Logger" / "logfile-0.log");
    EXPECT_EQ(occurrences(log, "=============START KEYVORA============"), 1U) << "the second copy opened the store";
    const auto first = log.find("In the first time open app");
    const auto banner = log.find("=============START KEYVORA============");
    const auto stopBanner = log.find("=============STOP KEYVORA=============");
    EXPECT_LT(first, banner);
    EXPECT_LT(banner, log.find(home.path().string(), banner)) << "the store root follows the banner";
    EXPECT_LT(banner, stopBanner);
    EXPECT_NE(stopBanner, std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(home.path() / "config" / "autostart" / "kvplugin.desktop"));
}

TEST(ServiceProcess, MovesBothListenersWhenThePlainPortIsTaken) {
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor holder(
        context, {boost::asio::ip::make_address("127.0.0.1"), 19420});
    test::TempDirectory dataHome;
    ServiceProcess service(dataHome.path());
    ASSERT_TRUE(service.listensOn(19421));
    EXPECT_EQ(ping(19421)["functionId"], "f1");
    ASSERT_TRUE(service.listensOn(19521));
    EXPECT_FALSE(test::portAcceptsConnections(19520));
}

TEST(ServiceProcess, ServesWssWithTheShippedCertificate) {
    test::TempDirectory dataHome;
    ServiceProcess service(dataHome.path());
    ASSERT_TRUE(service.listensOn(19520));
    test::WsClient client(19520, test::WsClient::TlsTrust{fileText(KVPLUGIN_LUMEN_PEM)});
    client.sendText(R"({"methodName":1,"functionId":"tls"})");
    EXPECT_EQ(nlohmann::json::parse(client.receive().value_or("null"))["functionId"], "tls");
}

TEST(ServiceProcess, ListensOnLoopbackOnly) {
    test::TempDirectory dataHome;
    ServiceProcess service(dataHome.path());
    ASSERT_TRUE(service.listensOn(19420));
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor other(context);
    boost::system::error_code error;
    other.open(boost::asio::ip::tcp::v4());
    // Another address on the same port is still free: the service bound 127.0.0.1 alone.
    other.bind({boost::asio::ip::make_address("127.0.0.2"), 19420}, error);
    EXPECT_FALSE(error) << error.message();
}

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The service is killed outright while it saves MIDI files: every save it acknowledged reads back
// byte-exact (or a later one of the same song that it had no time to acknowledge), and no
// temporary file ever bears a cached file's name.
TEST(ServiceProcess, AKilledServiceKeepsEveryAcknowledgedCacheSave) {
    test::TempDirectory dataHome;
    const auto cache = dataHome.path() / "com.keyvora.kvplugin" / "Cache";
    std::mt19937 random(20261207);
    std::map<int, std::vector<std::vector<std::uint8_t>>> sent;  // each song's contents in sending order
    std::map<int, std::size_t> acknowledged;                       // the index of the last acknowledged
    int saves = 0;
    for (int round = 0; round < 50; ++round) {
        ServiceProcess service(dataHome.path());
        ASSERT_TRUE(service.listensOn(19420));
        const auto lifetime = std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 400)(random));
        std::jthread killer([&service, lifetime] {
            std::this_thread::sleep_for(lifetime);
            ::kill(service.pid(), SIGKILL);
        });
        // The kill can come at any point of an exchange, a write included: that ends the round.
        try {
            test::WsClient client(19420);
            while (true) {
                const int song = static_cast<int>(random() % 4);
                std::vector<std::uint8_t> content(std::uniform_int_distribution<std::size_t>(1000, 60000)(random));
                for (auto& byte : content) byte = static_cast<std::uint8_t>(random());
                sent[song].push_back(content);
                const nlohmann::json request = {{"methodName", 6}, {"functionId", "s"},
                                                {"data", {{"id", song}, {"midiFile", test::base64(content)}, {"lastMidiModified", "x"}}}};
                client.sendText(request.dump());
                const auto answer = client.receive(std::chrono::seconds(3));
                if (!answer) break;
                if (nlohmann::json::parse(*answer)["data"]["code"] == 0) {
                    acknowledged[song] = sent[song].size() - 1;
                    ++saves;
                }
            }
        } catch (const std::exception&) {
        }
        killer.join();

        for (const auto& [song, index] : acknowledged) {
            const auto plain = decryptData(fileBytes(cache / (std::to_string(song) + "_Protected")));
            ASSERT_TRUE(plain) << "song " << song << ", round " << round;
            const auto& contents = sent[song];
            EXPECT_TRUE(std::find(contents.begin() + static_cast<std::ptrdiff_t>(index), contents.end(), *plain) != contents.end())
                << "song " << song << " lost its acknowledged save in round " << round;
        }
        for (const auto& entry : std::filesystem::directory_iterator(cache)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.starts_with(".") || name.ends_with("_Protected")) << name;
        }
    }
    EXPECT_GT(saves, 10);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// A small tmpfs mounted over a folder for as long as it lives; nothing when the system refuses
// (not root, or no mount rights in this container).
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& folder, const std::string& size) : folder_(folder) {
        std::filesystem::create_directories(folder);
        mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
};

// The store on a disk that fills up during cache and practice saves: every save is answered, a
// failed one leaves the previous file and the database as they were, and the service goes on.
TEST(ServiceProcess, AFullDiskFailsSavesButLosesNothingAcknowledged) {
    test::TempDirectory home;
    SmallDisk disk(home.path() / "com.keyvora.kvplugin", "3m");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ServiceProcess service(home.path());
    ASSERT_TRUE(service.listensOn(19420));
    test::WsClient client(19420);
    std::mt19937 random(7);
    std::map<int, std::vector<std::uint8_t>> cached;  // each song's last acknowledged contents
    std::set<int> practiced;                          // seconds of each acknowledged practice save
    int failed = 0;
    for (int round = 0; round < 40; ++round) {
        const int song = round % 3;
        std::vector<std::uint8_t> content(400000);
        for (auto& byte : content) byte = static_cast<std::uint8_t>(random());
        client.sendText(nlohmann::json{{"methodName", 6}, {"functionId", "s"},
                                       {"data", {{"id", song}, {"midiFile", test::base64(content)}, {"lastMidiModified", "x"}}}}
                            .dump());
        const auto saved = client.receive(std::chrono::seconds(10));
        ASSERT_TRUE(saved) << "a save went unanswered";
        if (nlohmann::json::parse(*saved)["data"].value("code", -1) == 0) {
            cached[song] = content;
        } else {
            ++failed;
        }
        for (int i = 0; i < 20; ++i) {
            const int seconds = round * 100 + i + 1;
            client.sendText(nlohmann::json{{"methodName", 50}, {"functionId", "p"}, {"clientID", "7"},
                                           {"data", {{"seconds", seconds}, {"songID", 5}, {"rednote", 1}}}}
                                .dump());
            const auto answer = client.receive(std::chrono::seconds(10));
            ASSERT_TRUE(answer) << "a practice save went unanswered";
            if (nlohmann::json::parse(*answer)["data"].value("code", -1) == 0) practiced.insert(seconds);
        }
    }
    EXPECT_GT(failed, 0) << "the disk never filled";
    EXPECT_FALSE(cached.empty());
    const auto cache = home.path() / "com.keyvora.kvplugin" / "Cache";
    for (const auto& [song, content] : cached) {
        EXPECT_EQ(decryptData(fileBytes(cache / (std::to_string(song) + "_Protected"))), content) << "song " << song;
    }
    client.sendText(R"({"methodName":49,"functionId":"r","clientID":"7","data":{"songID":5}})");
    const auto read = nlohmann::json::parse(client.receive(std::chrono::seconds(10)).value_or("null"));
    std::set<int> stored;
    for (const auto& segment : read["data"]) {
        const auto& seconds = segment["seconds"];
        stored.insert(seconds.is_string() ? std::stoi(seconds.get<std::string>()) : seconds.get<int>());
    }
    for (const int seconds : practiced) EXPECT_TRUE(stored.count(seconds)) << "practice save " << seconds << " lost";
    EXPECT_EQ(ping(19420)["functionId"], "f1") << "the service went on";
    EXPECT_EQ(service.terminate(), 0);
    SQLite::Database store((home.path() / "com.keyvora.kvplugin" / "keyvora.sqlite").string(), SQLite::OPEN_READONLY);
    EXPECT_EQ(store.execAndGet("PRAGMA integrity_check").getString(), "ok");
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// The service killed at random moments while it downloads a song's stems: afterwards every stem
// file in the song's folder is whole; only a ".tmp" file may be cut short, and the next
// preparation removes it.
TEST(ServiceProcess, AKilledStemDownloadNeverLeavesAPartialStem) {
    test::TempDirectory home;
    test::HttpsTestServer server(test::HttpsTestServer::Scheme::http);
    std::string body = "ID3";
    body.resize(12 << 20, '\x11');
    server.put("big.mp3", body);
    const auto folder = home.path() / "com.keyvora.kvplugin" / "Cache" / "31";
    std::mt19937 random(31);
    const nlohmann::json prepare = {
        {"methodName", 9}, {"functionId", "p"}, {"clientID", "7"},
        {"data", {{"songId", 31}, {"tempo", 100}, {"isPlayAudio", true},
                  {"audioFiles", {{{"instrument_id", 1}, {"tempo", 100}, {"link", server.url("/files/big.mp3")},
                                   {"last_modified", "v"}, {"index", 0}, {"instrument_name", "Piano"}}}}}}};
    int cutShort = 0;  // rounds killed during a transfer
    for (int round = 0; round < 50; ++round) {
        ServiceProcess service(home.path());
        ASSERT_TRUE(service.listensOn(19420));
        test::WsClient client(19420);
        std::filesystem::remove_all(folder);  // each round downloads anew
        client.sendText(prepare.dump());
        // Every other round waits for the transfer to have begun: a loaded machine may be slow to.
        if (round % 2 == 1) {
            const auto partial = folder / (stem_files::fileName(1, 100, "v") + ".tmp");
            for (int i = 0; i < 1000 && !std::filesystem::exists(partial); ++i) std::this_thread::sleep_for(5ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 20)(random)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 300)(random)));
        }
        ::kill(service.pid(), SIGKILL);
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            cutShort += entry.path().extension() == ".tmp";
            if (entry.path().extension() != ".mp3") continue;
            EXPECT_EQ(std::filesystem::file_size(entry.path()), body.size()) << entry.path().filename() << " in round " << round;
        }
    }
    EXPECT_GT(cutShort, 0) << "no kill came during a transfer";
}

// Each start finds a new certificate version and installs it; the service is killed at a random
// moment of it. Whatever the moment, the certificate folder holds the old certificate or the new
// one whole, a state that reads, and the next start serves wss with the installed certificate.
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
        ServiceProcess service(home.path(), {"--headless"}, server.manifestUrl());
        ASSERT_TRUE(service.started());
        // The install follows the listeners; a loaded machine may be slow to get there, so some
        // rounds wait for them, and a few for the install itself.
        if (round % 10 == 5) {
            test::waitForCertificateState(folder, std::to_string(round));
        } else if (round % 2 == 1) {
            ASSERT_TRUE(service.listensOn(19420)) << "round " << round;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 150)(random)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 400)(random)));
        }
        ::kill(service.pid(), SIGKILL);
        const auto current = folder / "current.pfx";
        if (std::filesystem::exists(current)) {
            ++installed;
            EXPECT_EQ(served.count(test::certificatePemOf(current, CertManager::kPfxPassword)), 1u) << "round " << round;
        }
        const auto state = folder / "cert-state.json";
        if (std::filesystem::exists(state)) {
            EXPECT_TRUE(nlohmann::json::parse(fileText(state), nullptr, false).is_object()) << "round " << round;
        }
    }
    EXPECT_GT(installed, 0) << "no start got as far as installing";

    serve(50);
    ServiceProcess service(home.path(), {"--headless"}, server.manifestUrl());
    ASSERT_TRUE(service.listensOn(19520));
    ASSERT_TRUE(test::waitForCertificateState(folder, "50"));
    service.terminate();
    ServiceProcess restarted(home.path());
    ASSERT_TRUE(restarted.listensOn(19520));
    const std::string pem = test::certificatePemOf(folder / "current.pfx", CertManager::kPfxPassword);
    EXPECT_EQ(served.at(pem), "first");
    test::WsClient client(19520, test::WsClient::TlsTrust{pem});
    client.sendText(R"({"methodName":1,"functionId":"tls"})");
    EXPECT_EQ(nlohmann::json::parse(client.receive().value_or("null"))["functionId"], "tls");
    std::size_t leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) leftovers += entry.path().extension() == ".tmp";
    EXPECT_EQ(leftovers, 0u) << "temporary files of killed installs stay behind";
}

// The certificate folder on a disk that is full when a new version comes: the install fails, the
// installed certificate and its state stay as they were, nothing is left behind, and the service
// goes on serving wss with the installed certificate.
TEST(ServiceProcess, AFullDiskFailsACertificateInstallAndKeepsTheInstalledOne) {
    test::TempDirectory home;
    const auto folder = home.path() / "Keyvora" / "cert";
    SmallDisk disk(folder, "256k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    test::CertificateServer server(CertManager::kPfxPassword);
    server.add("first");
    server.add("second");
    server.announce("1", "first");
    {
        ServiceProcess service(home.path(), {"--headless"}, server.manifestUrl());
        ASSERT_TRUE(service.listensOn(19520));
        ASSERT_TRUE(test::waitForCertificateState(folder, "1"));
        service.terminate();
    }
    const std::string installed = fileText(folder / "current.pfx");
    const std::string state = fileText(folder / "cert-state.json");
    ASSERT_FALSE(installed.empty());
    {
        std::ofstream filler(folder / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
        }
    }

    server.announce("2", "second");
    ServiceProcess service(home.path(), {"--headless"}, server.manifestUrl());
    ASSERT_TRUE(service.listensOn(19520));
    for (int i = 0; i < 500 && !server.fetched("second"); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(server.fetched("second")) << "the new version was never downloaded";
    std::this_thread::sleep_for(300ms);  // its install is tried and fails
    EXPECT_EQ(fileText(folder / "current.pfx"), installed);
    EXPECT_EQ(fileText(folder / "cert-state.json"), state);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "current.pfx" || name == "cert-state.json" || name == "filler") << name << " stays behind";
    }
    test::WsClient client(19520, test::WsClient::TlsTrust{test::certificatePemOf(folder / "current.pfx", CertManager::kPfxPassword)});
    client.sendText(R"({"methodName":1,"functionId":"tls"})");
    EXPECT_EQ(nlohmann::json::parse(client.receive().value_or("null"))["functionId"], "tls");
}

// The store's disk fills up in the middle of a stem download: the preparation is answered, no
// partial stem is left under a stem's name or as a download, and the service goes on.
TEST(ServiceProcess, AFullDiskFailsAStemDownloadAndLeavesNoPartialStem) {
    test::TempDirectory home;
    SmallDisk disk(home.path() / "com.keyvora.kvplugin", "4m");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    test::HttpsTestServer server(test::HttpsTestServer::Scheme::http);
    std::string body = "ID3";
    body.resize(12 << 20, '\x11');
    server.put("big.mp3", body);
    ServiceProcess service(home.path());
    ASSERT_TRUE(service.listensOn(19420));
    test::WsClient client(19420);
    client.sendText(nlohmann::json{{"methodName", 9}, {"functionId", "p"}, {"clientID", "7"},
                                   {"data", {{"songId", 32}, {"tempo", 100}, {"isPlayAudio", true},
                                             {"audioFiles", {{{"instrument_id", 1}, {"tempo", 100}, {"link", server.url("/files/big.mp3")},
                                                              {"last_modified", "v"}, {"index", 0}, {"instrument_name", "Piano"}}}}}}}
                        .dump());
    const auto prepared = client.receive(std::chrono::seconds(30));
    ASSERT_TRUE(prepared) << "the preparation went unanswered";
    EXPECT_EQ(nlohmann::json::parse(*prepared)["functionId"], "p");
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(home.path() / "com.keyvora.kvplugin" / "Cache" / "32", error)) {
        ADD_FAILURE() << entry.path().filename() << " stays behind";
    }
    EXPECT_EQ(ping(19420)["functionId"], "f1");
}

}  // namespace
}  // namespace kv

// libFuzzer: a WebSocket message's text through the whole receive path, as a page on the student's
// computer could send it: the request envelope, the flow its method names (every flow of the
// service is reachable, with the state earlier inputs left), the answer. The service runs without
// listeners, its store and certificates in a temporary folder. Built and run by `make fuzz`.
#include "app/AllFlows.h"
#include "app/Service.h"
#include "core/RequestDispatcher.h"
#include "platform/desktop/Resources.h"
#include "platform/net/WebSocketConnection.h"

#include <nlohmann/json.hpp>

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

// Every answer is a JSON envelope or one of the service's own refusal texts.
class Answers : public kv::WebSocketConnection {
public:
    void send(std::string text) override {
        if (text.empty()) __builtin_trap();
        if (text.front() == '{' && !nlohmann::json::accept(text)) __builtin_trap();
    }
    void close() override {}
    std::uint16_t localPort() const override { return 19420; }
};

fs::path makeHome() {
    std::string pattern = (fs::temp_directory_path() / "kv-receive-fuzzer-XXXXXX").string();
    const fs::path home = ::mkdtemp(pattern.data());
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    // No sound and no keyboards: the flows meet a computer without devices.
    ::setenv("KVPLUGIN_AUDIO_API", "null", 1);
    ::setenv("KVPLUGIN_MIDI_API", "jack", 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    ::setenv("JACK_DEFAULT_SERVER", "kv-receive-fuzzer-none", 1);
    return home;
}

kv::ServiceSettings settingsIn(const fs::path& home) {
    kv::ServiceSettings settings;
    settings.database = home / "keyvora.sqlite";
    kv::CertManager::Settings certificates;
    certificates.manifestUrl = "https://127.0.0.1:9/kv-cert/130717/manifest.json";
    certificates.certDir = home / "cert";
    certificates.bundledPfx = kv::resourcePath("lumen.pfx");
    settings.certificates = certificates;
    return settings;
}

class ReceivePath {
public:
    ReceivePath() : home_(makeHome()), service_(std::make_unique<kv::Service>(settingsIn(home_))) {}
    ~ReceivePath() {
        service_.reset();
        std::error_code ignored;
        fs::remove_all(home_, ignored);
    }

    void receive(std::string text) {
        service_->mainQueue().sync([&] { dispatcher_.receive(answers_, {std::move(text), true}); });
    }

private:
    fs::path home_;
    std::unique_ptr<kv::Service> service_;
    kv::FlowTable flows_ = kv::makeAllFlows();
    kv::RequestDispatcher dispatcher_{flows_, kv::KeyvoraFlow::shared()};  // the service's session
    std::shared_ptr<Answers> answers_ = std::make_shared<Answers>();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ReceivePath path;
    path.receive(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}

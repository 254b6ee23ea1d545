#include "platform/jack/JackServerWatch.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <mutex>
#include <string_view>
#include <thread>

namespace kv {

namespace {
void silentJack(const char*) {}
void silentAlsa(const char*, int, const char*, int, const char*, ...) {}

bool connectedTo(jack_client_t* client, jack_port_t* port, std::string_view ownClient, std::string_view ownPort) {
    const char** names = jack_port_get_all_connections(client, port);
    if (!names) return false;
    bool found = false;
    for (const char** name = names; *name && !found; ++name) {
        const std::string_view full(*name);
        const auto colon = full.find(':');
        found = colon != std::string_view::npos && full.substr(0, colon).starts_with(ownClient) &&
                full.substr(colon + 1) == ownPort;
    }
    jack_free(names);
    return found;
}
}  // namespace

void quietenAudioSystemLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&silentJack);
        jack_set_info_function(&silentJack);
        snd_lib_error_set_handler(&silentAlsa);
    });
}

bool jackServerRunning() {
    quietenAudioSystemLibraries();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("KVPlugin probe", JackNoStartServer, &status);
    if (client) jack_client_close(client);
    return client != nullptr;
}

std::unique_ptr<JackServerWatch> JackServerWatch::open() {
    quietenAudioSystemLibraries();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("KVPlugin watch", JackNoStartServer, &status);
    if (!client) return nullptr;
    auto watch = std::make_unique<JackServerWatch>(client);
    jack_on_shutdown(client, &JackServerWatch::onShutdown, watch.get());
    // Only an active client hears of the shutdown.
    if (jack_activate(client) != 0) return nullptr;
    return watch;
}

// libjack crashes closing a client of a server that went away once a new server has taken its
// place: such a client is left as it is.
JackServerWatch::~JackServerWatch() {
    if (!gone_) jack_client_close(client_);
}

void JackServerWatch::awaitConnection(const std::string& foreignPort, const std::string& ownClient,
                                      const std::string& ownPort) const {
    const auto deadline = std::chrono::steady_clock::now() + kConnectionBound;
    while (!gone_ && std::chrono::steady_clock::now() < deadline) {
        jack_port_t* port = jack_port_by_name(client_, foreignPort.c_str());
        if (port && connectedTo(client_, port, ownClient, ownPort)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void JackServerWatch::onShutdown(void* self) {
    static_cast<JackServerWatch*>(self)->gone_ = true;
}

}  // namespace kv

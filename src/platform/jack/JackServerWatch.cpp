#include "platform/jack/JackServerWatch.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <mutex>

namespace kv {

namespace {
void silentJack(const char*) {}
void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
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

void JackServerWatch::onShutdown(void* self) {
    static_cast<JackServerWatch*>(self)->gone_ = true;
}

}  // namespace kv

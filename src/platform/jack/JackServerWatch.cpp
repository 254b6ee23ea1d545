#include "platform/jack/JackServerWatch.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <jack/jack.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

namespace kv {

namespace {
void silentJack(const char*) {}
void silentAlsa(const char*, int, const char*, int, const char*, ...) {}

// The socket a JACK server takes requests on, as libjack names it: per user, or shared by all
// users when the server was started promiscuous.
std::string serverSocketPath(bool perUser) {
    const char* chosen = std::getenv("JACK_DEFAULT_SERVER");
    std::string name = chosen && *chosen ? chosen : "default";
    for (char& c : name) {
        if (c == '/' || c == '\\') c = '_';
    }
    return "/dev/shm/jack_" + name + (perUser ? "_" + std::to_string(getuid()) : "") + "_0";
}

// A socket left behind by a server that died refuses the connection.
bool socketAnswers(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answered;
}

// PipeWire's stand-in for libjack keeps no such socket, and no shared database either.
bool libjackIsPipeWires() {
    Dl_info library{};
    return dladdr(reinterpret_cast<void*>(&jack_client_open), &library) != 0 && library.dli_fname &&
           std::string_view(library.dli_fname).find("pipewire") != std::string_view::npos;
}

bool clientOpens() {
    quietenAudioSystemLibraries();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("KVPlugin probe", JackNoStartServer, &status);
    if (client) jack_client_close(client);
    return client != nullptr;
}

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

// Asked without libjack where it can be: JACK's client open takes a lock in a database shared by
// every JACK client of the machine, and a process killed while holding it leaves every later
// client open waiting for ever. Without a server there is then nothing for a kill to interrupt.
bool jackServerRunning() {
    if (libjackIsPipeWires()) return clientOpens();
    return socketAnswers(serverSocketPath(true)) || socketAnswers(serverSocketPath(false));
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

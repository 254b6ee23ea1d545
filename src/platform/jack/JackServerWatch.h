#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

typedef struct _jack_client jack_client_t;

namespace kv {

// Notices that the JACK server went away. The MIDI library's client on a dead server keeps
// answering with the ports it last saw, so the service could not tell otherwise: this client of
// our own, without ports, is told when the server shuts it down. It also sees when a connection
// the MIDI library asked for is in effect.
class JackServerWatch {
public:
    // A watch on the server clients of this process use; nothing when none runs.
    static std::unique_ptr<JackServerWatch> open();
    explicit JackServerWatch(jack_client_t* client) : client_(client) {}
    ~JackServerWatch();
    JackServerWatch(const JackServerWatch&) = delete;
    JackServerWatch& operator=(const JackServerWatch&) = delete;

    static constexpr auto kConnectionBound = std::chrono::milliseconds(500);

    bool serverGone() const { return gone_; }
    // Waits, at most kConnectionBound, until the port of that full name is connected, in the
    // graph the server runs, to a port `ownPort` of a client whose name begins with `ownClient`.
    // A connection takes effect at a cycle after the call that made it: what is sent before then
    // is lost.
    void awaitConnection(const std::string& foreignPort, const std::string& ownClient,
                         const std::string& ownPort) const;

private:
    static void onShutdown(void* self);

    jack_client_t* client_;
    std::atomic<bool> gone_{false};
};

// Whether a JACK server answers, asked quietly: the MIDI library would print its own failure on
// every attempt.
bool jackServerRunning();

// Keeps libjack and libasound from printing their own diagnostics (a missing JACK server is
// reported on every attempt, once a second): the service logs what it makes of a failure itself.
void quietenAudioSystemLibraries();

}  // namespace kv

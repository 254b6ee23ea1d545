#include "platform/midi/JackMidiInput.h"

#include "base/HostClock.h"
#include "platform/jack/JackClientRetirement.h"
#include "platform/jack/JackServerWatch.h"
#include "platform/midi/MidiCycleReader.h"
#include "platform/midi/MidiError.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kv {

namespace {

constexpr auto kConnectionBound = std::chrono::milliseconds(500);

// libjack's view of the port buffer and the server's clock in one process callback.
class JackCycle : public MidiCycle {
public:
    JackCycle(jack_client_t* client, void* buffer) : client_(client), buffer_(buffer) {}
    std::uint32_t frameTime() override { return jack_last_frame_time(client_); }
    std::uint32_t eventCount() override { return jack_midi_get_event_count(buffer_); }
    bool event(std::uint32_t index, const unsigned char*& bytes, std::size_t& size) override {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, buffer_, index) != 0) return false;
        bytes = event.buffer;
        size = event.size;
        return true;
    }

private:
    jack_client_t* client_;
    void* buffer_;
};

}  // namespace

// libjack's threads call into this until its client is closed, so it outlives the input when the
// close does not end.
struct JackMidiInput::Client {
    Client(MidiByteRing& ring, Queued queued) : ring(ring), queued(std::move(queued)) {}

    jack_client_t* handle = nullptr;
    jack_port_t* port = nullptr;
    MidiByteRing& ring;
    Queued queued;
    MidiCycleReader reader;
    std::atomic<bool> silenced{false};  // set before the close: nothing is read again
    std::atomic<bool> reading{false};
    std::atomic<bool> gone{false};

    static int process(jack_nframes_t frames, void* self) {
        auto& client = *static_cast<Client*>(self);
        client.reading = true;
        if (!client.silenced) {
            const std::uint64_t arrival = host_clock::now();
            JackCycle cycle(client.handle, jack_port_get_buffer(client.port, frames));
            if (client.reader.read(cycle, arrival, client.ring) > 0) client.queued();
        }
        client.reading = false;
        return 0;
    }
    static void onShutdown(void* self) { static_cast<Client*>(self)->gone = true; }
};

JackMidiInput::JackMidiInput(const std::string& clientName, const std::string& portName, MidiByteRing& ring, Queued queued)
    : client_(std::make_shared<Client>(ring, std::move(queued))) {
    quietenAudioSystemLibraries();
    if (!jackServerRunning()) throw MidiError("no JACK server runs");
    jack_status_t status{};
    client_->handle = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (!client_->handle) throw MidiError("the JACK server refused a client");
    client_->port = jack_port_register(client_->handle, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_->handle, &Client::process, client_.get());
    jack_on_shutdown(client_->handle, &Client::onShutdown, client_.get());
    if (!client_->port || jack_activate(client_->handle) != 0) {
        jack_client_close(client_->handle);
        throw MidiError("the JACK server gave no MIDI input port");
    }
}

// Whether closed or not, once this returns the ring is not touched again.
JackMidiInput::~JackMidiInput() {
    client_->silenced = true;
    for (int wait = 0; wait < 1000 && client_->reading; ++wait) std::this_thread::sleep_for(std::chrono::microseconds(100));
    jack_client_t* handle = client_->handle;
    const bool gone = client_->gone;
    retireJackClient(std::move(client_), handle, gone);
}

std::vector<std::string> JackMidiInput::outputPorts() const {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client_->handle, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    for (const char** port = ports; port && *port; ++port) names.emplace_back(*port);
    jack_free(ports);
    return names;
}

void JackMidiInput::connectTo(const std::string& rawName) {
    disconnect();
    if (jack_connect(client_->handle, rawName.c_str(), jack_port_name(client_->port)) != 0) {
        throw MidiError("the JACK server did not connect " + rawName);
    }
    const auto deadline = std::chrono::steady_clock::now() + kConnectionBound;
    while (!client_->gone && !jack_port_connected_to(client_->port, rawName.c_str()) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void JackMidiInput::disconnect() {
    jack_port_disconnect(client_->handle, client_->port);
}

bool JackMidiInput::connected() const {
    return jack_port_connected(client_->port) > 0;
}

bool JackMidiInput::serverGone() const {
    return client_->gone;
}

std::uint64_t JackMidiInput::lostMessages() const {
    return client_->reader.lost();
}

}  // namespace kv

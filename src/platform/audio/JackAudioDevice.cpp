#include "platform/audio/JackAudioDevice.h"

#include "platform/dispatch/ThreadPriority.h"
#include "platform/jack/JackClientRetirement.h"
#include "platform/jack/JackServerWatch.h"

#include <jack/jack.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

namespace kv {

// libjack's threads call into this until its client is closed, so it outlives the device when the
// close does not end: it then belongs to the thread still closing, or to the process.
struct JackAudioDevice::Client {
    jack_client_t* handle = nullptr;
    std::array<jack_port_t*, 2> ports{};
    std::vector<float> interleaved;  // one period, rendered before it is split into the ports
    Render render;
    std::atomic<bool> silenced{false};  // set before the close: render is not called again
    std::atomic<bool> rendering{false};
    std::atomic<bool> gone{false};
    std::atomic<std::uint64_t> xruns{0};
    bool threadNamed = false;  // the server's process thread, named at its first call

    static int process(jack_nframes_t frames, void* self);
    static int onXrun(void* self);
    static void onShutdown(void* self);
};

JackAudioDevice::JackAudioDevice() = default;

JackAudioDevice::~JackAudioDevice() {
    stop();
}

int JackAudioDevice::Client::process(jack_nframes_t frames, void* self) {
    const std::uint64_t wake = host_clock::now();
    auto& client = *static_cast<Client*>(self);
    if (!client.threadNamed) {
        nameCurrentThread("AudioDevice");
        client.threadNamed = true;
    }
    auto* left = static_cast<float*>(jack_port_get_buffer(client.ports[0], frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(client.ports[1], frames));
    client.rendering = true;
    if (frames > kMaxPeriod || client.silenced) {
        client.rendering = false;
        std::memset(left, 0, frames * sizeof(float));
        std::memset(right, 0, frames * sizeof(float));
        return 0;
    }
    float* rendered = client.interleaved.data();
    client.render(rendered, frames, wake);
    client.rendering = false;
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] = rendered[2 * i];
        right[i] = rendered[2 * i + 1];
    }
    return 0;
}

int JackAudioDevice::Client::onXrun(void* self) {
    static_cast<Client*>(self)->xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackAudioDevice::Client::onShutdown(void* self) {
    static_cast<Client*>(self)->gone = true;
}

bool JackAudioDevice::healthy() const {
    return client_ && !client_->gone;
}

std::uint64_t JackAudioDevice::underflows() const {
    return client_ ? client_->xruns.load() : 0;
}

bool JackAudioDevice::open(Render render) {
    stop();
    quietenAudioSystemLibraries();
    jack_status_t status{};
    jack_client_t* handle = jack_client_open("KVPlugin", JackNoStartServer, &status);
    if (!handle) return fail("no JACK server runs");
    client_ = std::make_shared<Client>();
    client_->handle = handle;
    client_->render = std::move(render);
    const char* names[] = {"outport 0", "outport 1"};
    for (std::size_t i = 0; i < client_->ports.size(); ++i) {
        client_->ports[i] = jack_port_register(handle, names[i], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!client_->ports[i]) return fail("the JACK server gave no output port");
    }
    const char** playback = jack_get_ports(handle, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    playback_.clear();
    for (const char** port = playback; port && *port && playback_.size() < client_->ports.size(); ++port) playback_.emplace_back(*port);
    jack_free(playback);
    if (playback_.empty()) return fail("the JACK server has no playback port");
    jack_set_process_callback(handle, &Client::process, client_.get());
    jack_set_xrun_callback(handle, &Client::onXrun, client_.get());
    jack_on_shutdown(handle, &Client::onShutdown, client_.get());
    client_->interleaved.assign(static_cast<std::size_t>(kMaxPeriod) * 2, 0.0f);
    sampleRate_ = jack_get_sample_rate(handle);
    jack_latency_range_t latency{};
    jack_port_get_latency_range(jack_port_by_name(handle, playback_[0].c_str()), JackPlaybackLatency, &latency);
    latencySeconds_ = latency.min / sampleRate_;
    name_ = "Jack: " + playback_[0].substr(0, playback_[0].find(':'));
    return true;
}

bool JackAudioDevice::start() {
    if (!healthy()) return false;
    client_->threadNamed = false;
    jack_client_t* handle = client_->handle;
    if (jack_activate(handle) != 0) return fail("the JACK server did not run the client");
    for (std::size_t i = 0; i < client_->ports.size(); ++i) {
        const std::string& to = playback_[std::min(i, playback_.size() - 1)];
        if (jack_connect(handle, jack_port_name(client_->ports[i]), to.c_str()) != 0) {
            return fail("the JACK server refused a connection to " + to);
        }
    }
    return true;
}

bool JackAudioDevice::fail(const std::string& why) {
    lastError_ = why;
    stop();
    return false;
}

// A server whose socket no longer answers is going away even before it has told the client.
// Whether closed or not, once this returns no render runs.
void JackAudioDevice::stop() {
    if (!client_) return;
    client_->silenced = true;
    std::shared_ptr<Client> client = std::move(client_);
    for (int wait = 0; wait < 1000 && client->rendering; ++wait) std::this_thread::sleep_for(std::chrono::microseconds(100));
    jack_client_t* handle = client->handle;
    const bool gone = client->gone;
    retireJackClient(std::move(client), handle, gone, kCloseBound);
}

}  // namespace kv

#include "platform/audio/JackAudioDevice.h"

#include "platform/dispatch/ThreadPriority.h"
#include "platform/jack/JackServerWatch.h"

#include <jack/jack.h>

#include <algorithm>
#include <cstring>

namespace kv {

JackAudioDevice::~JackAudioDevice() {
    stop();
}

int JackAudioDevice::process(std::uint32_t frames, void* self) {
    const std::uint64_t wake = host_clock::now();
    auto& device = *static_cast<JackAudioDevice*>(self);
    if (!device.threadNamed_) {
        nameCurrentThread("AudioDevice");
        device.threadNamed_ = true;
    }
    auto* left = static_cast<float*>(jack_port_get_buffer(device.ports_[0], frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(device.ports_[1], frames));
    if (frames > kMaxPeriod) {
        std::memset(left, 0, frames * sizeof(float));
        std::memset(right, 0, frames * sizeof(float));
        return 0;
    }
    float* rendered = device.interleaved_.data();
    device.render_(rendered, frames, wake);
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] = rendered[2 * i];
        right[i] = rendered[2 * i + 1];
    }
    return 0;
}

int JackAudioDevice::onXrun(void* self) {
    static_cast<JackAudioDevice*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackAudioDevice::onShutdown(void* self) {
    static_cast<JackAudioDevice*>(self)->gone_ = true;
}

bool JackAudioDevice::open(Render render) {
    stop();
    render_ = std::move(render);
    quietenAudioSystemLibraries();
    gone_ = false;
    xruns_ = 0;
    jack_status_t status{};
    client_ = jack_client_open("KVPlugin", JackNoStartServer, &status);
    if (!client_) return fail("no JACK server runs");
    const char* names[] = {"outport 0", "outport 1"};
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        ports_[i] = jack_port_register(client_, names[i], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!ports_[i]) return fail("the JACK server gave no output port");
    }
    const char** playback = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    playback_.clear();
    for (const char** port = playback; port && *port && playback_.size() < ports_.size(); ++port) playback_.emplace_back(*port);
    jack_free(playback);
    if (playback_.empty()) return fail("the JACK server has no playback port");
    jack_set_process_callback(client_, &JackAudioDevice::process, this);
    jack_set_xrun_callback(client_, &JackAudioDevice::onXrun, this);
    jack_on_shutdown(client_, &JackAudioDevice::onShutdown, this);
    interleaved_.assign(static_cast<std::size_t>(kMaxPeriod) * 2, 0.0f);
    sampleRate_ = jack_get_sample_rate(client_);
    jack_latency_range_t latency{};
    jack_port_get_latency_range(jack_port_by_name(client_, playback_[0].c_str()), JackPlaybackLatency, &latency);
    latencySeconds_ = latency.min / sampleRate_;
    name_ = "Jack: " + playback_[0].substr(0, playback_[0].find(':'));
    return true;
}

bool JackAudioDevice::start() {
    if (!healthy()) return false;
    threadNamed_ = false;
    if (jack_activate(client_) != 0) return fail("the JACK server did not run the client");
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const std::string& to = playback_[std::min(i, playback_.size() - 1)];
        if (jack_connect(client_, jack_port_name(ports_[i]), to.c_str()) != 0) return fail("the JACK server refused a connection to " + to);
    }
    return true;
}

bool JackAudioDevice::fail(const std::string& why) {
    lastError_ = why;
    stop();
    return false;
}

// Closing deactivates first: once it returns, no render runs. libjack crashes closing a client of
// a server that went away once a new server has taken its place: such a client is left as it is.
void JackAudioDevice::stop() {
    if (!client_) return;
    if (!gone_) jack_client_close(client_);
    client_ = nullptr;
    ports_ = {};
}

}  // namespace kv

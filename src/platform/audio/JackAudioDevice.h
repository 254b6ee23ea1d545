#pragma once

#include "platform/audio/AudioDevice.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace kv {

// The computer's audio output as a client of the running JACK server: two output ports joined to
// its playback ports. The client is ours alone: a server that goes away only marks it gone, and
// no thread but the owner's ever closes it (a library that closes it from a thread of its own on
// the server's shutdown races the owner's stop, which then hangs or frees it twice).
class JackAudioDevice : public AudioDevice {
public:
    // The largest period a JACK server runs.
    static constexpr std::uint32_t kMaxPeriod = 8192;

    JackAudioDevice() = default;
    ~JackAudioDevice() override;
    JackAudioDevice(const JackAudioDevice&) = delete;
    JackAudioDevice& operator=(const JackAudioDevice&) = delete;

    bool open(Render render) override;
    bool start() override;
    void stop() override;
    bool healthy() const override { return client_ && !gone_; }
    std::string lastError() const override { return lastError_; }
    std::uint64_t underflows() const override { return xruns_; }
    double sampleRate() const override { return sampleRate_; }
    double outputLatencySeconds() const override { return latencySeconds_; }
    std::string name() const override { return name_; }

private:
    static int process(std::uint32_t frames, void* self);
    static int onXrun(void* self);
    static void onShutdown(void* self);
    bool fail(const std::string& why);

    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, 2> ports_{};
    std::vector<std::string> playback_;  // the server's playback ports, left first
    std::vector<float> interleaved_;     // one period, rendered before it is split into the ports
    Render render_;
    std::atomic<bool> gone_{false};
    std::atomic<std::uint64_t> xruns_{0};
    bool threadNamed_ = false;  // the server's process thread, named at its first call
    double sampleRate_ = 48000;
    double latencySeconds_ = 0;
    std::string name_ = "Jack";
    std::string lastError_;
};

}  // namespace kv

#pragma once

#include "platform/audio/AudioDevice.h"

#include <rtaudio/RtAudio.h>

#include <atomic>
#include <memory>
#include <string>

namespace kv {

// The computer's audio output through RtAudio (PulseAudio or ALSA; JACK has a device of its own):
// 48 kHz stereo float where the device allows, 256-frame buffers.
class RtAudioDevice : public AudioDevice {
public:
    static constexpr unsigned int kPreferredRate = 48000;
    static constexpr unsigned int kPreferredFrames = 256;
    // PulseAudio gives a stream that names no buffer its server's default (up to two seconds of
    // sound behind the song), and RtAudio reports no latency for it: the stream asks for this
    // many periods, and they count as its latency.
    static constexpr unsigned int kPulseBuffers = 8;

    explicit RtAudioDevice(RtAudio::Api api);
    ~RtAudioDevice() override;

    bool open(Render render) override;
    bool start() override;
    void stop() override;
    // False once the library stopped the stream itself.
    bool healthy() const override;
    std::string lastError() const override { return lastError_; }
    std::uint64_t underflows() const override { return underflows_; }
    double sampleRate() const override { return sampleRate_; }
    double outputLatencySeconds() const override { return latencySeconds_; }
    std::string name() const override { return name_; }

private:
    static int callback(void* output, void* input, unsigned int frames, double streamTime,
                        RtAudioStreamStatus status, void* self);

    RtAudio::Api api_;
    std::unique_ptr<RtAudio> audio_;
    Render render_;
    double sampleRate_ = kPreferredRate;
    double latencySeconds_ = 0;
    std::string name_ = "RtAudio";
    std::string lastError_;
    std::atomic<std::uint64_t> underflows_{0};
    bool threadNamed_ = false;  // the callback's own, reset before a stream starts
};

}  // namespace kv

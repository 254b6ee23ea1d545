#pragma once

#include "platform/audio/AudioDevice.h"

#include <atomic>
#include <thread>
#include <vector>

namespace kv {

// No sound card: renders into nothing on its own thread, paced by the host clock, so that
// everything timed by the audio clock keeps its time.
class NullAudioDevice : public AudioDevice {
public:
    static constexpr std::uint32_t kBufferFrames = 256;

    explicit NullAudioDevice(double sampleRate = 48000) : sampleRate_(sampleRate) {}
    ~NullAudioDevice() override { stop(); }

    bool open(Render render) override;
    bool start() override;
    void stop() override;
    double sampleRate() const override { return sampleRate_; }
    double outputLatencySeconds() const override { return 0; }
    std::string name() const override { return "null"; }

private:
    double sampleRate_;
    Render render_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace kv

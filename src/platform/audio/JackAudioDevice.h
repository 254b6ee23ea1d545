#pragma once

#include "platform/audio/AudioDevice.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// The computer's audio output as a client of the running JACK server: two output ports joined to
// its playback ports. The client is ours alone: a server that goes away only marks it gone, and
// only the owner's stop closes it (a library that closes it from a thread of its own on the
// server's shutdown races the owner's stop, which then hangs or frees it twice).
class JackAudioDevice : public AudioDevice {
public:
    // The largest period a JACK server runs.
    static constexpr std::uint32_t kMaxPeriod = 8192;
    // libjack can deadlock closing a client whose server dies at that moment: a close that takes
    // longer is left to a thread of its own.
    static constexpr auto kCloseBound = std::chrono::seconds(2);

    JackAudioDevice();
    ~JackAudioDevice() override;
    JackAudioDevice(const JackAudioDevice&) = delete;
    JackAudioDevice& operator=(const JackAudioDevice&) = delete;

    bool open(Render render) override;
    bool start() override;
    void stop() override;
    bool healthy() const override;
    std::string lastError() const override { return lastError_; }
    std::uint64_t underflows() const override;
    double sampleRate() const override { return sampleRate_; }
    double outputLatencySeconds() const override { return latencySeconds_; }
    std::string name() const override { return name_; }

private:
    struct Client;  // what the server's threads touch
    bool fail(const std::string& why);

    std::shared_ptr<Client> client_;
    std::vector<std::string> playback_;  // the server's playback ports, left first
    double sampleRate_ = 48000;
    double latencySeconds_ = 0;
    std::string name_ = "Jack";
    std::string lastError_;
};

}  // namespace kv

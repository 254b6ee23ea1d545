#pragma once

#include "platform/audio/HostClock.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kv {

// An audio output the engine renders into: interleaved stereo float frames.
class AudioDevice {
public:
    // Runs on the device's real-time thread: fill `frames` frames; `wake` is the host time at
    // which the callback started.
    using Render = std::function<void(float* output, std::uint32_t frames, std::uint64_t wake)>;

    virtual ~AudioDevice() = default;
    // False when the device cannot be opened.
    virtual bool start(Render render) = 0;
    virtual void stop() = 0;
    virtual double sampleRate() const = 0;
    // From the render of a frame to its sound: the stream's output latency.
    virtual double outputLatencySeconds() const = 0;
    virtual std::string name() const = 0;
    // The host clock the device's times are on.
    virtual std::uint64_t now() const { return host_clock::now(); }
};

}  // namespace kv

#pragma once

#include "base/HostClock.h"

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
    // Opens the output without rendering yet. False when it cannot be opened (lastError says why).
    virtual bool open(Render render) = 0;
    virtual bool start() = 0;
    // Stops rendering and closes the output; open() may follow.
    virtual void stop() = 0;
    // False once the system took the output away (a sound server that stopped).
    virtual bool healthy() const { return true; }
    virtual std::string lastError() const { return {}; }
    // Buffers the device had to play before they were rendered, since it was opened.
    virtual std::uint64_t underflows() const { return 0; }
    virtual double sampleRate() const = 0;
    // From the render of a frame to its sound: the stream's output latency.
    virtual double outputLatencySeconds() const = 0;
    virtual std::string name() const = 0;
    // The host clock the device's times are on.
    virtual std::uint64_t now() const { return host_clock::now(); }
};

}  // namespace kv

#pragma once

#include "platform/audio/AudioDevice.h"

#include <atomic>
#include <vector>

namespace kv {

// Renders only when asked, against a virtual host clock that advances by exactly the frames
// rendered, and keeps what it rendered: tests check sample positions with it.
class OfflineAudioDevice : public AudioDevice {
public:
    static constexpr std::uint64_t kStartTime = 1'000'000'000;  // the virtual clock's first frame
    static constexpr std::uint32_t kBufferFrames = 256;

    explicit OfflineAudioDevice(double sampleRate = 48000) : sampleRate_(sampleRate) {}

    bool open(Render render) override;
    bool start() override { return static_cast<bool>(render_); }
    void stop() override { render_ = nullptr; }
    double sampleRate() const override { return sampleRate_; }
    double outputLatencySeconds() const override { return 0; }
    std::string name() const override { return "offline"; }
    // The host time of the next frame to render.
    std::uint64_t now() const override;

    // Renders `frames` more frames, in device buffers of kBufferFrames.
    void renderFrames(std::uint64_t frames);
    std::uint64_t hostTimeOfFrame(std::uint64_t frame) const;
    const std::vector<float>& recorded() const { return recorded_; }

private:
    double sampleRate_;
    Render render_;
    std::atomic<std::uint64_t> rendered_{0};  // read by now() from other threads
    std::vector<float> recorded_;
};

}  // namespace kv

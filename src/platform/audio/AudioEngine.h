#pragma once

#include "platform/audio/AudioDevice.h"
#include "platform/audio/FrameClock.h"
#include "platform/audio/MixerNode.h"
#include "platform/audio/PeakLimiter.h"
#include "platform/audio/PlayerNode.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv {

// The one audio engine of the service: nodes → main mixer → peak limiter → the device, on the
// device's clock. Nodes attach and detach while it runs; the audio thread never waits for that.
class AudioEngine {
public:
    static constexpr std::uint32_t kMaxFrames = 4096;

    // A started engine on the device KVPLUGIN_AUDIO_API names (jack, pulse, alsa or null), else
    // on RtAudio's first that opens; without any, on the null device, and `failure` says why.
    static std::unique_ptr<AudioEngine> openDefault(std::string& failure);

    explicit AudioEngine(std::unique_ptr<AudioDevice> device);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    bool start();
    void stop();
    bool isRunning() const { return running_; }

    double sampleRate() const { return device_->sampleRate(); }
    // From render to sound: what the nodes' host times already include.
    double outputLatencySeconds() const { return device_->outputLatencySeconds(); }
    std::uint64_t now() const { return device_->now(); }
    AudioDevice& device() { return *device_; }

    const std::shared_ptr<MixerNode>& mainMixerNode() const { return mainMixer_; }
    std::shared_ptr<PlayerNode> makePlayerNode() { return std::make_shared<PlayerNode>(completions_); }
    void connect(std::shared_ptr<AudioNode> node, const std::shared_ptr<MixerNode>& mixer);
    void disconnect(const std::shared_ptr<AudioNode>& node, const std::shared_ptr<MixerNode>& mixer);

private:
    struct Retired {
        std::shared_ptr<const void> object;
        std::uint64_t cycle;
    };

    void process(float* output, std::uint32_t frames, std::uint64_t wake);
    void publish(MixerNode& mixer);
    void collectGarbage();
    void runCompletions();

    std::unique_ptr<AudioDevice> device_;
    std::shared_ptr<MixerNode> mainMixer_ = std::make_shared<MixerNode>();
    PeakLimiter limiter_;
    FrameClock frameClock_;  // audio thread only
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> cycle_{0};  // odd while a render runs

    std::mutex graphMutex_;
    std::map<const MixerNode*, std::vector<std::shared_ptr<AudioNode>>> inputs_;
    std::map<const MixerNode*, std::unique_ptr<const MixerNode::Inputs>> published_;
    std::vector<Retired> retired_;

    PlayerNode::Completions completions_;
    std::atomic<bool> workerRunning_{true};
    std::thread worker_;
};

}  // namespace kv

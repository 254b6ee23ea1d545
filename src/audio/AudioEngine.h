#pragma once

#include "audio/AudioButler.h"
#include "audio/FrameClock.h"
#include "audio/MixerNode.h"
#include "audio/PeakLimiter.h"
#include "audio/PlayerNode.h"
#include "platform/audio/AudioDevice.h"

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
// device's clock. Nodes attach and detach while it runs; the audio thread never waits for that,
// and hands what it is done with to the butler.
class AudioEngine {
public:
    // The most frames one render of a node asks for: a device's longer buffers render in steps.
    static constexpr std::uint32_t kMaxFrames = 4096;

    // The engine runs at the rate of its device: the one it is made with, or one that replaces it.
    explicit AudioEngine(std::unique_ptr<AudioDevice> device);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // stop() closes the device's stream; start() opens it again, on a new frame clock.
    bool start();
    void stop();
    bool isRunning() const { return running_; }
    // Why the device did not open or start.
    std::string lastError() const;

    double sampleRate() const { return sampleRate_.load(); }
    // From render to sound: what the nodes' host times already include.
    double outputLatencySeconds() const { return outputLatency_; }
    std::uint64_t now() const;

    // Moves rendering to another device. The new one is opened while the current one still
    // renders; when it cannot open or start, the current one goes on and `failure` says why. At
    // another rate, every node is prepared again for it while nothing renders.
    bool replaceDevice(std::unique_ptr<AudioDevice> device, std::string& failure);
    struct DeviceState {
        std::string name;
        bool healthy = false;
        std::uint64_t lastRender = 0;  // host time the last callback started
        std::uint64_t framesRendered = 0;
        std::uint64_t underflows = 0;
    };
    DeviceState deviceState() const;
    // The host time of the last render that was not silence (below -100 dBFS); 0 before any.
    std::uint64_t lastAudible() const { return lastAudible_.load(std::memory_order_relaxed); }

    const std::shared_ptr<MixerNode>& mainMixerNode() const { return mainMixer_; }
    std::shared_ptr<PlayerNode> makePlayerNode() { return std::make_shared<PlayerNode>(butler_); }
    // Where a node's own work off the audio thread is done.
    AudioButler& butler() { return butler_; }
    // Prepares the node for the engine's rate, then adds it to the mixer's inputs.
    void connect(std::shared_ptr<AudioNode> node, const std::shared_ptr<MixerNode>& mixer);
    // A node that no mixer holds any more leaves the graph: a player's unfinished buffers end
    // (not played) on the butler, and a mixer's inputs leave with it.
    void disconnect(const std::shared_ptr<AudioNode>& node, const std::shared_ptr<MixerNode>& mixer);

private:
    struct Retired {
        std::shared_ptr<const void> object;  // a list of inputs
        std::shared_ptr<AudioNode> node;
        std::uint64_t cycle;
    };

    double openDevice();
    AudioDevice::Render renderer();
    void process(float* output, std::uint32_t frames, std::uint64_t wake);
    void publish(MixerNode& mixer);
    void retire(std::shared_ptr<AudioNode> node);
    bool isConnected(const AudioNode& node) const;
    void collectGarbage(std::vector<PlayerCompletion>* unfinished);
    void runChores();
    void prepareGraph(double sampleRate);

    mutable std::mutex deviceMutex_;  // device_ against replacement; never taken by the audio thread
    std::unique_ptr<AudioDevice> device_;
    bool opened_ = false;  // before sampleRate_, whose initialization opens the device
    std::atomic<double> sampleRate_;  // changed only while no render runs
    std::atomic<double> outputLatency_;
    std::atomic<std::uint64_t> lastRender_{0};
    std::atomic<std::uint64_t> framesRendered_{0};
    std::atomic<std::uint64_t> lastAudible_{0};
    std::shared_ptr<MixerNode> mainMixer_ = std::make_shared<MixerNode>();
    PeakLimiter limiter_;
    FrameClock frameClock_;  // audio thread only
    std::atomic<bool> newDevice_{false};  // the frame clock starts anew on the next render
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> cycle_{0};  // odd while a render runs

    std::mutex graphMutex_;
    std::map<const MixerNode*, std::vector<std::shared_ptr<AudioNode>>> inputs_;
    std::map<const MixerNode*, std::unique_ptr<const MixerNode::Inputs>> published_;
    std::vector<Retired> retired_;
    std::atomic<bool> garbage_{false};  // retired_ holds something: the audio thread summons the butler

    AudioButler butler_{[this] { runChores(); }};
};

}  // namespace kv

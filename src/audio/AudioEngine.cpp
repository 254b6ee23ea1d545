#include "audio/AudioEngine.h"

#include <algorithm>
#include <cstring>

namespace kv {

namespace {

bool audible(const float* stereo, std::uint32_t frames) {
    constexpr float kThreshold = 1e-5F;  // -100 dBFS: a reverb's last trickle is silence
    return std::any_of(stereo, stereo + static_cast<std::size_t>(frames) * 2,
                       [](float sample) { return sample > kThreshold || sample < -kThreshold; });
}

}  // namespace

AudioEngine::AudioEngine(std::unique_ptr<AudioDevice> device)
    : device_(std::move(device)),
      sampleRate_(openDevice()),
      outputLatency_(device_->outputLatencySeconds()),
      limiter_(sampleRate_) {
    mainMixer_->prepare(sampleRate_, kMaxFrames);
}

AudioEngine::~AudioEngine() {
    stop();
}

// The device's real rate is known once it is open.
double AudioEngine::openDevice() {
    opened_ = device_->open(renderer());
    return device_->sampleRate();
}

AudioDevice::Render AudioEngine::renderer() {
    return [this](float* output, std::uint32_t frames, std::uint64_t wake) { process(output, frames, wake); };
}

bool AudioEngine::start() {
    std::lock_guard lock(deviceMutex_);
    if (running_) return true;
    if (!opened_) opened_ = device_->open(renderer());
    newDevice_ = true;
    running_ = opened_ && device_->start();
    lastRender_ = host_clock::now();
    return running_;
}

void AudioEngine::stop() {
    {
        std::lock_guard lock(deviceMutex_);
        if (!running_) return;
        device_->stop();
        opened_ = false;
        running_ = false;
    }
    runChores();  // no render runs now: what left the graph is let go
}

std::uint64_t AudioEngine::now() const {
    std::lock_guard lock(deviceMutex_);
    return device_->now();
}

std::string AudioEngine::lastError() const {
    std::lock_guard lock(deviceMutex_);
    return device_->lastError();
}

bool AudioEngine::replaceDevice(std::unique_ptr<AudioDevice> device, std::string& failure) {
    if (!device->open(renderer())) {
        failure = device->lastError();
        return false;
    }
    std::lock_guard lock(deviceMutex_);
    // One device renders at a time: the engine's state belongs to whichever thread that is.
    device_->stop();
    std::swap(device_, device);
    if (device_->sampleRate() != sampleRate_) prepareGraph(device_->sampleRate());
    if (!device_->start()) {
        failure = device_->lastError();
        device_->stop();
        std::swap(device_, device);
        if (device_->sampleRate() != sampleRate_) prepareGraph(device_->sampleRate());
        running_ = device_->open(renderer()) && device_->start();
        return false;
    }
    outputLatency_ = device_->outputLatencySeconds();
    lastRender_ = host_clock::now();
    newDevice_ = true;
    opened_ = running_ = true;
    return true;
}

// Nothing renders meanwhile. A node made for a rate prepares itself for the new one (the
// synthesizer anew, with its channels as they were); buffers already made play at their own.
void AudioEngine::prepareGraph(double sampleRate) {
    std::lock_guard lock(graphMutex_);
    sampleRate_ = sampleRate;
    limiter_ = PeakLimiter(sampleRate);
    mainMixer_->prepare(sampleRate, kMaxFrames);
    for (const auto& [mixer, inputs] : inputs_) {
        for (const auto& input : inputs) input->prepare(sampleRate, kMaxFrames);
    }
}

AudioEngine::DeviceState AudioEngine::deviceState() const {
    std::lock_guard lock(deviceMutex_);
    return {device_->name(), device_->healthy(), lastRender_.load(), framesRendered_.load(), device_->underflows()};
}

void AudioEngine::process(float* output, std::uint32_t frames, std::uint64_t wake) {
    cycle_.fetch_add(1, std::memory_order_acq_rel);
    lastRender_.store(wake, std::memory_order_relaxed);
    framesRendered_.fetch_add(frames, std::memory_order_relaxed);
    if (newDevice_.exchange(false, std::memory_order_acq_rel)) frameClock_ = FrameClock{};
    const double rate = sampleRate_;
    const std::uint64_t first = frameClock_.update(wake, frames, rate) +
                                static_cast<std::uint64_t>(outputLatency_.load(std::memory_order_relaxed) * 1e9);
    std::memset(output, 0, static_cast<std::size_t>(frames) * 2 * sizeof(float));
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t count = std::min(kMaxFrames, frames - done);
        const auto offset = static_cast<std::uint64_t>(static_cast<double>(done) * 1e9 / rate);
        mainMixer_->render(RenderContext{output + static_cast<std::size_t>(done) * 2, count, first + offset, rate});
        done += count;
    }
    limiter_.process(output, frames);
    if (audible(output, frames)) lastAudible_.store(wake, std::memory_order_relaxed);
    cycle_.fetch_add(1, std::memory_order_acq_rel);
    if (garbage_.load(std::memory_order_acquire)) butler_.summon();
}

void AudioEngine::connect(std::shared_ptr<AudioNode> node, const std::shared_ptr<MixerNode>& mixer) {
    std::lock_guard lock(graphMutex_);
    auto& inputs = inputs_[mixer.get()];
    if (std::find(inputs.begin(), inputs.end(), node) != inputs.end()) return;
    node->prepare(sampleRate_, kMaxFrames);
    inputs.push_back(std::move(node));
    publish(*mixer);
}

void AudioEngine::disconnect(const std::shared_ptr<AudioNode>& node, const std::shared_ptr<MixerNode>& mixer) {
    std::lock_guard lock(graphMutex_);
    const auto inputs = inputs_.find(mixer.get());
    if (inputs == inputs_.end()) return;
    const auto found = std::find(inputs->second.begin(), inputs->second.end(), node);
    if (found == inputs->second.end()) return;
    std::shared_ptr<AudioNode> removed = std::move(*found);
    inputs->second.erase(found);
    publish(*mixer);
    retire(std::move(removed));
}

// A node that no mixer holds any more goes once no render can reach it; a mixer takes its
// inputs with it.
void AudioEngine::retire(std::shared_ptr<AudioNode> node) {
    std::vector<std::shared_ptr<AudioNode>> leaving{std::move(node)};
    while (!leaving.empty()) {
        std::shared_ptr<AudioNode> next = std::move(leaving.back());
        leaving.pop_back();
        if (isConnected(*next)) continue;
        if (auto* mixer = dynamic_cast<MixerNode*>(next.get())) {
            if (const auto inputs = inputs_.find(mixer); inputs != inputs_.end()) {
                for (auto& input : inputs->second) leaving.push_back(std::move(input));
                inputs_.erase(inputs);
            }
            if (const auto list = published_.find(mixer); list != published_.end()) {
                mixer->exchangeInputs(nullptr);
                retired_.push_back({std::shared_ptr<const void>(std::move(list->second)), nullptr, cycle_.load()});
                published_.erase(list);
            }
        }
        retired_.push_back({nullptr, std::move(next), cycle_.load()});
    }
    garbage_ = true;
}

bool AudioEngine::isConnected(const AudioNode& node) const {
    for (const auto& [mixer, inputs] : inputs_) {
        for (const auto& input : inputs) {
            if (input.get() == &node) return true;
        }
    }
    return false;
}

// Gives the mixer a new list of its inputs; the old list is freed once no render can read it.
void AudioEngine::publish(MixerNode& mixer) {
    auto list = std::make_unique<MixerNode::Inputs>();
    for (const auto& input : inputs_[&mixer]) list->push_back(input.get());
    mixer.exchangeInputs(list.get());
    auto& slot = published_[&mixer];
    if (slot) retired_.push_back({std::shared_ptr<const void>(std::move(slot)), nullptr, cycle_.load()});
    slot = std::move(list);
    collectGarbage(nullptr);
}

// Lists go as soon as no render can read them. Nodes go on the butler only, which first takes
// what a node that stayed out of the graph still holds (a player's unfinished buffers).
void AudioEngine::collectGarbage(std::vector<PlayerCompletion>* unfinished) {
    const std::uint64_t now = cycle_.load();
    std::erase_if(retired_, [&](const Retired& retired) {
        if (retired.cycle % 2 != 0 && now <= retired.cycle) return false;
        if (!retired.node) return true;
        if (!unfinished) return false;
        if (!isConnected(*retired.node)) retired.node->takeUnfinished(*unfinished);
        return true;
    });
    garbage_ = !retired_.empty();
}

// The handlers run without the graph's lock: they may change the graph.
void AudioEngine::runChores() {
    std::vector<PlayerCompletion> unfinished;
    {
        std::lock_guard lock(graphMutex_);
        collectGarbage(&unfinished);
    }
    for (auto& completion : unfinished) {
        if (completion.handler) completion.handler(completion.played, completion.startedAt);
    }
}

}  // namespace kv

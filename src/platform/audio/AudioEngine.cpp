#include "platform/audio/AudioEngine.h"

#include "platform/audio/NullAudioDevice.h"
#include "platform/audio/RtAudioDevice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kv {

namespace {

constexpr auto kCompletionPoll = std::chrono::milliseconds(2);

std::optional<RtAudio::Api> apiNamed(const std::string& name) {
    if (name == "jack") return RtAudio::UNIX_JACK;
    if (name == "pulse") return RtAudio::LINUX_PULSE;
    if (name == "alsa") return RtAudio::LINUX_ALSA;
    return std::nullopt;
}

}  // namespace

std::unique_ptr<AudioEngine> AudioEngine::openDefault(std::string& failure) {
    const char* chosen = std::getenv("KVPLUGIN_AUDIO_API");
    const std::string api = chosen ? chosen : "";
    if (api != "null") {
        auto rtAudio = std::make_unique<RtAudioDevice>(apiNamed(api));
        RtAudioDevice& device = *rtAudio;
        auto engine = std::make_unique<AudioEngine>(std::move(rtAudio));
        if (engine->start()) return engine;
        failure = device.lastError();
    }
    auto engine = std::make_unique<AudioEngine>(std::make_unique<NullAudioDevice>());
    engine->start();
    return engine;
}

AudioEngine::AudioEngine(std::unique_ptr<AudioDevice> device)
    : device_(std::move(device)),
      limiter_(device_->sampleRate()),
      worker_([this] { runCompletions(); }) {}

AudioEngine::~AudioEngine() {
    stop();
    workerRunning_ = false;
    worker_.join();
}

bool AudioEngine::start() {
    if (running_) return true;
    running_ = device_->start([this](float* output, std::uint32_t frames, std::uint64_t wake) {
        process(output, frames, wake);
    });
    return running_;
}

void AudioEngine::stop() {
    if (!running_) return;
    device_->stop();
    running_ = false;
}

void AudioEngine::process(float* output, std::uint32_t frames, std::uint64_t wake) {
    cycle_.fetch_add(1, std::memory_order_acq_rel);
    const double rate = device_->sampleRate();
    const std::uint64_t first = frameClock_.update(wake, frames, rate) +
                                static_cast<std::uint64_t>(device_->outputLatencySeconds() * 1e9);
    std::memset(output, 0, static_cast<std::size_t>(frames) * 2 * sizeof(float));
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t count = std::min(kMaxFrames, frames - done);
        const auto offset = static_cast<std::uint64_t>(static_cast<double>(done) * 1e9 / rate);
        mainMixer_->render(RenderContext{output + static_cast<std::size_t>(done) * 2, count, first + offset, rate});
        done += count;
    }
    limiter_.process(output, frames);
    cycle_.fetch_add(1, std::memory_order_acq_rel);
}

void AudioEngine::connect(std::shared_ptr<AudioNode> node, const std::shared_ptr<MixerNode>& mixer) {
    std::lock_guard lock(graphMutex_);
    auto& inputs = inputs_[mixer.get()];
    if (std::find(inputs.begin(), inputs.end(), node) != inputs.end()) return;
    inputs.push_back(std::move(node));
    publish(*mixer);
}

void AudioEngine::disconnect(const std::shared_ptr<AudioNode>& node, const std::shared_ptr<MixerNode>& mixer) {
    std::lock_guard lock(graphMutex_);
    auto& inputs = inputs_[mixer.get()];
    const auto found = std::find(inputs.begin(), inputs.end(), node);
    if (found == inputs.end()) return;
    std::shared_ptr<AudioNode> removed = std::move(*found);
    inputs.erase(found);
    publish(*mixer);
    // The audio thread may be rendering the node right now: it goes once that render is over.
    retired_.push_back({std::move(removed), cycle_.load()});
}

// Gives the mixer a new list of its inputs; the old list is freed once no render can read it.
void AudioEngine::publish(MixerNode& mixer) {
    auto list = std::make_unique<MixerNode::Inputs>();
    for (const auto& input : inputs_[&mixer]) list->push_back(input.get());
    mixer.exchangeInputs(list.get());
    auto& slot = published_[&mixer];
    if (slot) retired_.push_back({std::shared_ptr<const void>(std::move(slot)), cycle_.load()});
    slot = std::move(list);
    collectGarbage();
}

void AudioEngine::collectGarbage() {
    const std::uint64_t now = cycle_.load();
    std::erase_if(retired_, [now](const Retired& retired) { return retired.cycle % 2 == 0 || now > retired.cycle; });
}

void AudioEngine::runCompletions() {
    while (workerRunning_) {
        while (auto completion = completions_.pop()) {
            if (completion->handler) completion->handler(completion->played, completion->startedAt);
        }
        {
            std::lock_guard lock(graphMutex_);
            collectGarbage();
        }
        std::this_thread::sleep_for(kCompletionPoll);
    }
}

}  // namespace kv

#include "audio/AudioOutputKeeper.h"

#include "platform/audio/JackAudioDevice.h"
#include "platform/audio/NullAudioDevice.h"
#include "platform/audio/RtAudioDevice.h"
#include "platform/audio/SoundServers.h"

#include "platform/jack/JackServerWatch.h"

#include <cstdlib>
#include <vector>

namespace kv {

namespace {

// A device that has not called back for this long is gone.
constexpr std::uint64_t kStalledNanos = 1'500'000'000;
// One that renders this many times faster than real time no longer waits for its sound card.
constexpr double kRacingFactor = 4.0;

std::string chosenApi() {
    const char* chosen = std::getenv("KVPLUGIN_AUDIO_API");
    return chosen ? chosen : "";
}

RtAudio::Api apiOf(const std::string& system) {
    if (system == "jack") return RtAudio::UNIX_JACK;
    return system == "pulse" ? RtAudio::LINUX_PULSE : RtAudio::LINUX_ALSA;
}

}  // namespace

AudioOutputKeeper::OpenOutput AudioOutputKeeper::defaultOutputs() {
    const std::string chosen = chosenApi();
    if (chosen == "null") return {};
    return []() -> std::unique_ptr<AudioDevice> {
        for (const System& system : systems()) {
            if (!system.allowed || !system.running) continue;
            if (system.name == "jack") return std::make_unique<JackAudioDevice>();
            return std::make_unique<RtAudioDevice>(apiOf(system.name));
        }
        return nullptr;
    };
}

// In RtAudio's order, looked for quietly: the library prints its own failures while it probes,
// which would repeat on every attempt.
std::vector<AudioOutputKeeper::System> AudioOutputKeeper::systems() {
    const std::string chosen = chosenApi();
    const auto allowed = [&chosen](const char* name) { return chosen.empty() || chosen == name; };
    return {{"jack", allowed("jack"), allowed("jack") && jackServerRunning()},
            {"pulse", allowed("pulse"), allowed("pulse") && pulseServerRunning()},
            {"alsa", allowed("alsa"), allowed("alsa") && soundCardPresent()}};
}

std::unique_ptr<AudioEngine> AudioOutputKeeper::openEngine(std::string& failure) {
    if (const auto open = defaultOutputs()) {
        if (auto device = open()) {
            auto engine = std::make_unique<AudioEngine>(std::move(device));
            if (engine->start()) return engine;
            failure = engine->lastError();
        } else {
            failure = "no sound server runs and no sound card is present";
        }
    }
    auto engine = std::make_unique<AudioEngine>(std::make_unique<NullAudioDevice>());
    engine->start();
    return engine;
}

AudioOutputKeeper::AudioOutputKeeper(AudioEngine& engine, OpenOutput openOutput)
    : engine_(engine),
      openOutput_(std::move(openOutput)),
      onNull_(engine.deviceState().name == "null"),
      lastCheck_(host_clock::now()),
      lastFrames_(engine.deviceState().framesRendered) {}

AudioOutputKeeper::Change AudioOutputKeeper::check() {
    if (!openOutput_) return {};
    const std::uint64_t now = host_clock::now();
    const AudioEngine::DeviceState state = engine_.deviceState();
    const double elapsed = host_clock::ticksToSeconds(static_cast<std::int64_t>(now - lastCheck_));
    const double frames = static_cast<double>(state.framesRendered - lastFrames_);
    lastCheck_ = now;
    lastFrames_ = state.framesRendered;
    if (onNull_) {
        auto device = openOutput_();
        std::string failure;
        if (!device || !engine_.replaceDevice(std::move(device), failure)) return {};
        onNull_ = false;
        lastFrames_ = engine_.deviceState().framesRendered;
        return {Change::kBack, engine_.deviceState().name};
    }
    if (!state.healthy) return lose(state, "the system closed it");
    if (now > state.lastRender && now - state.lastRender > kStalledNanos) return lose(state, "it stopped calling back");
    if (elapsed >= 0.5 && frames > kRacingFactor * engine_.sampleRate() * elapsed) {
        return lose(state, "it renders faster than it can play");
    }
    return {};
}

AudioOutputKeeper::Change AudioOutputKeeper::lose(const AudioEngine::DeviceState& state, const std::string& why) {
    std::string failure;
    engine_.replaceDevice(std::make_unique<NullAudioDevice>(engine_.sampleRate()), failure);
    onNull_ = true;
    lastFrames_ = engine_.deviceState().framesRendered;
    return {Change::kLost, state.name + ": " + why};
}

}  // namespace kv

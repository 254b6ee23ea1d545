#include "audio/AudioOutputKeeper.h"

#include "platform/audio/JackAudioDevice.h"
#include "platform/audio/NullAudioDevice.h"
#include "platform/audio/RtAudioDevice.h"

#include "platform/jack/JackServerWatch.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

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

bool pulseServerRunning() {
    if (std::getenv("PULSE_SERVER")) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code error;
    return runtime && std::filesystem::exists(std::filesystem::path(runtime) / "pulse" / "native", error);
}

bool soundCardPresent() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("pcmC") && name.ends_with("p")) return true;  // a playback device
    }
    return false;
}

// The system that can play now, in RtAudio's order, looked for quietly: the library prints its
// own failures while it probes, which would repeat on every attempt.
std::optional<RtAudio::Api> availableApi(const std::string& chosen) {
    const bool any = chosen.empty();
    if ((any || chosen == "jack") && jackServerRunning()) return RtAudio::UNIX_JACK;
    if ((any || chosen == "pulse") && pulseServerRunning()) return RtAudio::LINUX_PULSE;
    if ((any || chosen == "alsa") && soundCardPresent()) return RtAudio::LINUX_ALSA;
    return std::nullopt;
}

}  // namespace

AudioOutputKeeper::OpenOutput AudioOutputKeeper::defaultOutputs() {
    const std::string chosen = chosenApi();
    if (chosen == "null") return {};
    return [chosen]() -> std::unique_ptr<AudioDevice> {
        const auto api = availableApi(chosen);
        if (!api) return nullptr;
        if (*api == RtAudio::UNIX_JACK) return std::make_unique<JackAudioDevice>();
        return std::make_unique<RtAudioDevice>(*api);
    };
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

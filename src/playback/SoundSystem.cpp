#include "playback/SoundSystem.h"

#include "base/Log.h"
#include "base/TextFormat.h"

#include <cstdlib>
#include <string>

namespace kv {

namespace {

constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";

std::unique_ptr<AudioEngine> openEngine() {
    std::string failure;
    auto engine = AudioOutputKeeper::openEngine(failure);
    if (!failure.empty()) {
        logText(kLogError, "No audio output (" + failure + "): sound is off, timing runs on the host clock");
    }
    return engine;
}

std::shared_ptr<Synthesizer> loadSynthesizer(AudioEngine& engine, const std::filesystem::path& soundFont) {
    if (soundFont.empty()) return nullptr;
    try {
        auto synthesizer = std::make_shared<Synthesizer>(engine.sampleRate(), soundFont);
        engine.connect(synthesizer, engine.mainMixerNode());
        return synthesizer;
    } catch (const std::exception& error) {
        logText(kLogError, error.what());
        return nullptr;
    }
}

}  // namespace

std::filesystem::path SoundSystem::standardSoundFont() {
    const char* chosen = std::getenv("KVPLUGIN_SOUNDFONT");
    return chosen && *chosen ? chosen : kDefaultSoundFont;
}

SoundSystem::SoundSystem() : SoundSystem(openEngine(), AudioOutputKeeper::defaultOutputs(), standardSoundFont()) {}

SoundSystem::SoundSystem(std::unique_ptr<AudioEngine> engine, AudioOutputKeeper::OpenOutput outputs,
                         const std::filesystem::path& soundFont)
    : engine_(std::move(engine)), keeper_(*engine_, std::move(outputs)), synthesizer_(loadSynthesizer(*engine_, soundFont)) {}

SoundSystem::~SoundSystem() {
    engine_->stop();
}

void SoundSystem::checkOutput() {
    reportUnderflows();
    const auto change = keeper_.check();
    if (change.kind == AudioOutputKeeper::Change::kLost) {
        logText(kLogError, "Audio output lost (" + change.detail + "): sound is off, timing runs on the host clock");
    } else if (change.kind == AudioOutputKeeper::Change::kBack) {
        logText(kLogInfo, "Audio output back: " + change.detail);
    }
}

void SoundSystem::reportUnderflows() {
    constexpr auto kEvery = std::chrono::seconds(10);
    const std::uint64_t underflows = engine_->deviceState().underflows;
    if (underflows < underflowsReported_) underflowsReported_ = 0;  // another device counts anew
    const auto now = std::chrono::steady_clock::now();
    if (underflows == underflowsReported_ || now - lastUnderflowReport_ < kEvery) return;
    logText(kLogError, formatText("Audio output underflows: %llu buffers played before they were rendered",
                                  static_cast<unsigned long long>(underflows - underflowsReported_)));
    underflowsReported_ = underflows;
    lastUnderflowReport_ = now;
}

}  // namespace kv

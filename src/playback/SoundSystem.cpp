#include "playback/SoundSystem.h"

#include "base/Log.h"
#include "base/TextFormat.h"

#include <algorithm>
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

SoundSystem::SoundSystem(std::chrono::nanoseconds quietBeforeRest)
    : SoundSystem(openEngine(), AudioOutputKeeper::defaultOutputs(), standardSoundFont(), quietBeforeRest) {}

SoundSystem::SoundSystem(std::unique_ptr<AudioEngine> engine, AudioOutputKeeper::OpenOutput outputs,
                         const std::filesystem::path& soundFont, std::chrono::nanoseconds quietBeforeRest)
    : engine_(std::move(engine)),
      keeper_(*engine_, std::move(outputs)),
      synthesizer_(loadSynthesizer(*engine_, soundFont)),
      quietBeforeRest_(static_cast<std::uint64_t>(quietBeforeRest.count())),
      awakeSince_(host_clock::now()) {}

SoundSystem::~SoundSystem() {
    engine_->stop();
}

void SoundSystem::checkOutput() {
    if (resting_) return;
    reportUnderflows();
    const auto change = keeper_.check();
    if (change.kind == AudioOutputKeeper::Change::kLost) {
        logText(kLogError, "Audio output lost (" + change.detail + "): sound is off, timing runs on the host clock");
    } else if (change.kind == AudioOutputKeeper::Change::kBack) {
        logText(kLogInfo, "Audio output back: " + change.detail);
    }
}

void SoundSystem::restUnlessNeeded(bool needed) {
    if (needed) return wake();
    if (resting_) return;
    const std::uint64_t quietSince = std::max(engine_->lastAudible(), awakeSince_);
    const std::uint64_t now = host_clock::now();
    if (now < quietSince || now - quietSince < quietBeforeRest_) return;
    engine_->stop();
    resting_ = true;
    logText(kLogInfo, "Audio output closed while nothing can sound");
}

void SoundSystem::wake() {
    if (!resting_) return;
    resting_ = false;
    awakeSince_ = host_clock::now();
    if (!engine_->start()) logText(kLogError, "Audio output did not open again (" + engine_->lastError() + ")");
    // An output that came while it rested is taken now, not a second into the play.
    checkOutput();
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

#include "playback/SharedAudio.h"

#include "base/Log.h"
#include "platform/audio/AudioOutputKeeper.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace kv {

namespace {
constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";
}  // namespace

AudioEngine& sharedAudioEngine() {
    static const std::unique_ptr<AudioEngine> engine = [] {
        std::string failure;
        auto opened = AudioOutputKeeper::openEngine(failure);
        if (!failure.empty()) {
            logText(kLogError, "No audio output (" + failure + "): sound is off, timing runs on the host clock");
        }
        return opened;
    }();
    return *engine;
}

void checkAudioOutput() {
    static AudioOutputKeeper keeper(sharedAudioEngine(), AudioOutputKeeper::defaultOutputs());
    const auto change = keeper.check();
    if (change.kind == AudioOutputKeeper::Change::kLost) {
        logText(kLogError, "Audio output lost (" + change.detail + "): sound is off, timing runs on the host clock");
    } else if (change.kind == AudioOutputKeeper::Change::kBack) {
        logText(kLogInfo, "Audio output back: " + change.detail);
    }
}

Synthesizer* sharedSynthesizer() {
    static const std::shared_ptr<Synthesizer> synthesizer = []() -> std::shared_ptr<Synthesizer> {
        const char* chosen = std::getenv("KVPLUGIN_SOUNDFONT");
        const std::string soundFont = chosen && *chosen ? chosen : kDefaultSoundFont;
        try {
            auto& engine = sharedAudioEngine();
            auto loaded = std::make_shared<Synthesizer>(engine.sampleRate(), soundFont);
            engine.connect(loaded, engine.mainMixerNode());
            return loaded;
        } catch (const std::exception& error) {
            logText(kLogError, error.what());
            return nullptr;
        }
    }();
    return synthesizer.get();
}

}  // namespace kv

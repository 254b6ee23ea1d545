#pragma once

#include "audio/AudioEngine.h"
#include "audio/AudioOutputKeeper.h"
#include "audio/Synthesizer.h"
#include "base/SharedObject.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace kv {

// The service's sound: the one audio engine, kept on a real output whenever one exists, and the
// General MIDI synthesizer in it. The service owns it.
class SoundSystem {
public:
    static SoundSystem& shared() { return Shared<SoundSystem>::get(); }
    // The SoundFont KVPLUGIN_SOUNDFONT names, else the system's General MIDI default.
    static std::filesystem::path standardSoundFont();

    // The output the environment names (see AudioOutputKeeper); a missing output or SoundFont is
    // logged once, and the service runs on without it.
    SoundSystem();
    // On a given engine, looking for outputs with `outputs` (empty: never), with the SoundFont
    // (empty path: no synthesizer).
    SoundSystem(std::unique_ptr<AudioEngine> engine, AudioOutputKeeper::OpenOutput outputs,
                const std::filesystem::path& soundFont);
    ~SoundSystem();
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    AudioEngine& engine() { return *engine_; }
    // Nothing when no SoundFont loads.
    Synthesizer* synthesizer() { return synthesizer_.get(); }
    // About once a second: a lost output is logged once, and the engine runs on the null device
    // until an output opens again. Underflows are logged, at most every ten seconds.
    void checkOutput();

private:
    void reportUnderflows();

    std::unique_ptr<AudioEngine> engine_;
    AudioOutputKeeper keeper_;
    std::shared_ptr<Synthesizer> synthesizer_;
    std::uint64_t underflowsReported_ = 0;
    std::chrono::steady_clock::time_point lastUnderflowReport_{};
};

}  // namespace kv

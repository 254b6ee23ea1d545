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

    // How long nothing may have sounded before an output that nothing needs closes.
    static constexpr std::chrono::seconds kQuietBeforeRest{10};

    // The output the environment names (see AudioOutputKeeper); a missing output or SoundFont is
    // logged once, and the service runs on without it.
    explicit SoundSystem(std::chrono::nanoseconds quietBeforeRest = kQuietBeforeRest);
    // On a given engine, looking for outputs with `outputs` (empty: never), with the SoundFont
    // (empty path: no synthesizer).
    SoundSystem(std::unique_ptr<AudioEngine> engine, AudioOutputKeeper::OpenOutput outputs,
                const std::filesystem::path& soundFont, std::chrono::nanoseconds quietBeforeRest = kQuietBeforeRest);
    ~SoundSystem();
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    AudioEngine& engine() { return *engine_; }
    // Nothing when no SoundFont loads.
    Synthesizer* synthesizer() { return synthesizer_.get(); }
    // About once a second: a lost output is logged once, and the engine runs on the null device
    // until an output opens again. Underflows are logged, at most every ten seconds.
    void checkOutput();

    // The rest below runs on the main queue only.
    // About once a second, with whether anything may sound soon (a keyboard to echo, a play
    // prepared or on). An output that nothing needs and that has been silent for the quiet time
    // closes: the engine's thread and the sound card sleep. It opens again as soon as it is needed.
    void restUnlessNeeded(bool needed);
    // Opens a resting output at once: a play is being prepared or started.
    void wake();
    bool resting() const { return resting_; }

private:
    void reportUnderflows();

    std::unique_ptr<AudioEngine> engine_;
    AudioOutputKeeper keeper_;
    std::shared_ptr<Synthesizer> synthesizer_;
    const std::uint64_t quietBeforeRest_;
    bool resting_ = false;
    std::uint64_t awakeSince_;
    std::uint64_t underflowsReported_ = 0;
    std::chrono::steady_clock::time_point lastUnderflowReport_{};
};

}  // namespace kv

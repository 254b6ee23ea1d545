#pragma once

#include "audio/AudioEngine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// Keeps the engine on a real audio output whenever one exists. A lost output (a sound server
// that stopped or went away) moves the engine to the null device, which keeps every timed part
// on time; an output that opens again takes over. check() runs about once a second.
class AudioOutputKeeper {
public:
    // A device of the system that can play now, not yet opened; nothing when none can.
    using OpenOutput = std::function<std::unique_ptr<AudioDevice>()>;

    struct Change {
        enum Kind { kNone, kLost, kBack } kind = kNone;
        std::string detail;  // the output lost and why, or the output back
    };

    // The engine on the output KVPLUGIN_AUDIO_API names (jack, pulse or alsa), else on RtAudio's
    // own order; without any, on the null device, and `failure` says why. With "null" no output
    // is ever looked for.
    static std::unique_ptr<AudioEngine> openEngine(std::string& failure);
    static OpenOutput defaultOutputs();
    // The systems an output is looked for on, in the order tried: "jack", "pulse", "alsa".
    struct System {
        std::string name;
        bool allowed;  // KVPLUGIN_AUDIO_API does not rule it out
        bool running;  // allowed, and it can play now
    };
    static std::vector<System> systems();

    // `openOutput` empty: the engine's device is kept whatever happens to it.
    AudioOutputKeeper(AudioEngine& engine, OpenOutput openOutput);

    Change check();

private:
    Change lose(const AudioEngine::DeviceState& state, const std::string& why);

    AudioEngine& engine_;
    OpenOutput openOutput_;
    bool onNull_;
    std::uint64_t lastCheck_;
    std::uint64_t lastFrames_;
};

}  // namespace kv

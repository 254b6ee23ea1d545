#pragma once

#include "audio/AudioBuffer.h"
#include "audio/AudioEngine.h"
#include "audio/PlayerNode.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace kv {

// Plays one short sound resource, once at a time, on the engine.
class KeyvoraAudio {
public:
    // The resource "sounds/<name>.<fileType>", ready to play; nothing when it cannot be read.
    static std::shared_ptr<KeyvoraAudio> initWith(const std::string& name, const std::string& fileType,
                                                  AudioEngine& engine);
    KeyvoraAudio(std::shared_ptr<const AudioBuffer> sound, AudioEngine& engine);
    ~KeyvoraAudio();
    KeyvoraAudio(const KeyvoraAudio&) = delete;
    KeyvoraAudio& operator=(const KeyvoraAudio&) = delete;

    // From the start; a sound already playing goes on.
    void play();
    // At a host time (heard then), for count-offs timed on the audio clock; cut after
    // `maxSeconds`, where the next sound takes over.
    void playAt(std::uint64_t hostTime, double maxSeconds = 0);
    // Stops and rewinds.
    void stop();
    void setVolume(float volume);
    double getDuration() const;

private:
    double soundRate() const;

    std::shared_ptr<const AudioBuffer> sound_;
    AudioEngine& engine_;
    // Shared with the completions of its buffers, which may come after the sound is gone.
    struct Playing {
        std::mutex mutex;
        std::uint64_t generation = 0;  // each stop starts a new one
        int buffers = 0;               // of this generation, not yet finished
    };

    std::shared_ptr<PlayerNode> player_;
    std::shared_ptr<Playing> playing_ = std::make_shared<Playing>();
};

}  // namespace kv

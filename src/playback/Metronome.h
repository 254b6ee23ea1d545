#pragma once

#include "audio/AudioBuffer.h"
#include "audio/AudioEngine.h"
#include "audio/MixerNode.h"
#include "audio/PlayerNode.h"
#include "base/SharedObject.h"
#include "base/Synchronized.h"
#include "playback/ClickSound.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace kv {

// The metronome's sound: each click a buffer placed on the exact frame of its host time, a
// downbeat the full click, any other beat a softer, higher one. When the clicks come is the
// play's (its performance hands them over with the song); any thread may hand one over.
class Metronome : public ClickSound {
public:
    static Metronome& shared() { return Shared<Metronome>::get(); }

    Metronome(AudioEngine& engine, const std::filesystem::path& tickFile);
    ~Metronome() override;
    Metronome(const Metronome&) = delete;
    Metronome& operator=(const Metronome&) = delete;

    // Opens the metronome's output at its volume, before a play's first click.
    void begin();
    // Silent without a click sound, or before begin().
    void click(bool accented, std::uint64_t hostTime) override;
    // Drops every click not sounded yet and closes the output.
    void stop();
    void setVolume(float volume);
    bool isRunning() const { return running_; }
    float maxTickGain() const { return maxTickGain_; }
    float mixerVolume() const { return mixer_->outputVolume(); }

    static AudioBuffer scaledBuffer(const AudioBuffer& buffer, float scale);

private:
    struct Clicks {
        std::shared_ptr<const AudioBuffer> full;
        std::shared_ptr<const AudioBuffer> soft;
        std::shared_ptr<const AudioBuffer> silent;
    };

    void loadAudioFile(const std::filesystem::path& path);
    void applyMixerVolume();

    AudioEngine* engine_;
    std::shared_ptr<PlayerNode> player_;
    std::shared_ptr<MixerNode> mixer_ = std::make_shared<MixerNode>();
    Synchronized<std::optional<Clicks>> clicks_;

    std::atomic<bool> running_{false};
    std::atomic<float> volume_{1.0F};
    std::atomic<float> maxTickGain_{4.0F};
};

}  // namespace kv

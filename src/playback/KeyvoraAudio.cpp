#include "playback/KeyvoraAudio.h"

#include "audio/SoundFile.h"
#include "platform/desktop/Resources.h"

#include <algorithm>
#include <limits>

namespace kv {

std::shared_ptr<KeyvoraAudio> KeyvoraAudio::initWith(const std::string& name, const std::string& fileType,
                                                     AudioEngine& engine) {
    auto sound = readSoundFile(resourcePath("sounds/" + name + "." + fileType), engine.sampleRate());
    if (!sound) return nullptr;
    return std::make_shared<KeyvoraAudio>(std::make_shared<const AudioBuffer>(std::move(*sound)), engine);
}

KeyvoraAudio::KeyvoraAudio(std::shared_ptr<const AudioBuffer> sound, AudioEngine& engine)
    : sound_(std::move(sound)), engine_(engine), player_(engine.makePlayerNode()) {
    engine_.connect(player_, engine_.mainMixerNode());
}

KeyvoraAudio::~KeyvoraAudio() {
    player_->stop();
    engine_.disconnect(player_, engine_.mainMixerNode());
}

void KeyvoraAudio::play() {
    {
        std::lock_guard lock(playing_->mutex);
        if (playing_->buffers > 0) return;
    }
    playAt(PlayerNode::kAsSoonAsPossible);
}

void KeyvoraAudio::playAt(std::uint64_t hostTime, double maxSeconds) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(playing_->mutex);
        ++playing_->buffers;
        generation = playing_->generation;
    }
    const auto maxFrames = maxSeconds > 0 ? static_cast<std::uint32_t>(std::min(maxSeconds * soundRate(), 4.0e9))
                                          : std::numeric_limits<std::uint32_t>::max();
    const auto finished = [playing = playing_, generation] {
        std::lock_guard lock(playing->mutex);
        if (playing->generation == generation) --playing->buffers;
    };
    // Refused (the player's queue full): not counted, or play() would wait for it for ever.
    if (!player_->scheduleBuffer(sound_, hostTime, [finished](bool, std::uint64_t) { finished(); }, maxFrames)) finished();
}

// Stopped at once for play(): the completions of the dropped buffers, which come later from
// the engine, belong to the old generation and count for nothing.
void KeyvoraAudio::stop() {
    {
        std::lock_guard lock(playing_->mutex);
        ++playing_->generation;
        playing_->buffers = 0;
    }
    player_->stop();
}

void KeyvoraAudio::setVolume(float volume) {
    player_->setVolume(std::clamp(volume, 0.0F, 1.0F));
}

double KeyvoraAudio::getDuration() const {
    return static_cast<double>(sound_->frames()) / soundRate();
}

// The engine may have changed rate since the sound was read for it.
double KeyvoraAudio::soundRate() const {
    return sound_->sampleRate > 0 ? sound_->sampleRate : engine_.sampleRate();
}

}  // namespace kv

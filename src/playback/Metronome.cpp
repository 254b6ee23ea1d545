#include "playback/Metronome.h"

#include "audio/Resampling.h"
#include "audio/SoundFile.h"
#include "base/Console.h"
#include "base/TextFormat.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kv {

namespace {

void log(const std::string& text) {
    consoleLine("[Metronome] " + text);
}

}  // namespace

Metronome::Metronome(AudioEngine& engine, const std::filesystem::path& tickFile)
    : engine_(&engine), player_(engine.makePlayerNode()) {
    engine_->connect(player_, mixer_);
    engine_->connect(mixer_, engine_->mainMixerNode());
    mixer_->setOutputVolume(0);
    loadAudioFile(tickFile);
}

Metronome::~Metronome() {
    stop();
    engine_->disconnect(mixer_, engine_->mainMixerNode());
    engine_->disconnect(player_, mixer_);
}

namespace {
// The mixer gain that brings the click's peak to 0.9, at most 8.
float gainForPeak(float peak) {
    return peak > 0.0001F ? std::min(0.9F / peak, 8.0F) : 4.0F;
}
}  // namespace

void Metronome::loadAudioFile(const std::filesystem::path& path) {
    auto click = readSoundFile(path, engine_->sampleRate());
    if (!click) {
        log(std::filesystem::exists(path) ? "Cannot load tick.wav: " + path.string() : "tick.wav not found in bundle");
        return;
    }
    log("tick.wav loaded");
    const float peak = click->peak();
    maxTickGain_ = gainForPeak(peak);
    log(formatText("tick peak=%.3f → maxTickGain=%.2f", peak, static_cast<double>(maxTickGain_.load())));
    Clicks clicks;
    // A fifth higher; the same click where it cannot be made.
    const auto higher = resampled(*click, std::pow(2.0, 7 / 12.0));
    clicks.soft = std::make_shared<const AudioBuffer>(scaledBuffer(higher.value_or(*click), 0.8F));
    clicks.silent = std::make_shared<const AudioBuffer>(scaledBuffer(*click, 0));
    const double seconds = click->frames() / engine_->sampleRate();
    clicks.full = std::make_shared<const AudioBuffer>(std::move(*click));
    clicks_.set(std::move(clicks));
    log(formatText("Loaded %.3fs @ %.0fHz", seconds, engine_->sampleRate()));
}

AudioBuffer Metronome::scaledBuffer(const AudioBuffer& buffer, float scale) {
    consoleLine(formatText("[ACCENT] scaledBuffer scale=%.2f ch=%u frames=%u", static_cast<double>(scale),
                       AudioBuffer::kChannels, buffer.frames()));
    AudioBuffer scaled = buffer;
    for (float& sample : scaled.samples) sample *= scale;
    return scaled;
}

void Metronome::begin() {
    if (!clicks_.get()) log("no click sound: the metronome stays silent");
    running_ = true;
    applyMixerVolume();
}

void Metronome::click(bool accented, std::uint64_t hostTime) {
    const auto clicks = clicks_.get();
    if (!running_ || !clicks) return;
    const auto& sound = volume_ <= 0.0001F && clicks->silent ? clicks->silent
                        : accented || !clicks->soft         ? clicks->full
                                                            : clicks->soft;
    player_->scheduleBuffer(sound, hostTime);
}

void Metronome::stop() {
    running_ = false;
    player_->stop();
    mixer_->setOutputVolume(0);
}

void Metronome::setVolume(float volume) {
    volume_ = std::clamp(volume, 0.0F, 1.0F);
    if (running_) applyMixerVolume();
}

void Metronome::applyMixerVolume() {
    const float gain = maxTickGain_;
    mixer_->setOutputVolume(std::clamp(volume_ * gain, 0.0F, gain));
}

}  // namespace kv

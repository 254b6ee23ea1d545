#include "playback/Metronome.h"

#include "audio/Resampling.h"
#include "audio/SoundFile.h"
#include "base/Console.h"
#include "base/HostClock.h"
#include "base/TextFormat.h"
#include "platform/desktop/Resources.h"
#include "playback/MetronomePlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace kv {

namespace {

constexpr double kMinInterval = kMinClickSpacingSeconds;
constexpr double kMaxInterval = 60;
constexpr int kLookaheadIntervals = 8;
constexpr auto kScheduleEvery = std::chrono::milliseconds(100);
constexpr double kEarliestStart = 0.01;

void log(const std::string& text) {
    consoleLine("[Metronome] " + text);
}


}  // namespace

Metronome::Metronome(AudioEngine& engine, const std::filesystem::path& tickFile, boost::asio::any_io_executor schedule)
    : engine_(&engine), schedule_(std::move(schedule)), player_(engine.makePlayerNode()) {
    engine_->connect(player_, mixer_);
    engine_->connect(mixer_, engine_->mainMixerNode());
    mixer_->setOutputVolume(0);
    loadAudioFile(tickFile);
}

Metronome::~Metronome() {
    scheduleTimer_.reset();
    stop();
    std::lock_guard lock(owner_->mutex);  // a refill in progress ends first
    owner_->metronome = nullptr;
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
    clicks.soft = std::make_shared<const AudioBuffer>(scaledBuffer(resampled(*click, std::pow(2.0, 7 / 12.0)), 0.8F));
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

void Metronome::startWithInterval(double seconds, std::uint64_t hostTime) {
    if (!clicks_.get()) {
        log("no click sound: the metronome stays silent");
        return;
    }
    start(seconds, hostTime);
}

void Metronome::start(double seconds, std::uint64_t hostTime) {
    if (running_) stop();
    setInterval(seconds);
    const std::uint64_t now = engine_->now();
    const double startIn = std::max(kEarliestStart, host_clock::ticksToSeconds(static_cast<std::int64_t>(hostTime - now)));
    startHostTime_ = now + static_cast<std::uint64_t>(host_clock::secondsToTicks(startIn));
    tickCount_ = 0;
    outputLatencyMs_ = engine_->outputLatencySeconds() * 1000;
    log(formatText("hardware output latency = %.1fms", outputLatencyMs_.load()));
    log(formatText("interval=%.4fs BPM=%.1f startIn=%.0fms", interval_.load(), 60 / interval_.load(), startIn * 1000));
    {
        std::lock_guard lock(owner_->mutex);
        running_ = true;
        applyMixerVolume();
        scheduledUpTo_ = 0;
        schedulePendingTicks();
    }
    scheduleTimer_ = std::make_unique<RepeatingTimer>(schedule_, kScheduleEvery, [owner = owner_] {
        std::lock_guard lock(owner->mutex);
        if (owner->metronome) owner->metronome->refill();
    });
    scheduleTimer_->start();
}

void Metronome::refill() {
    if (!running_) return;
    schedulePendingTicks();
    const std::uint64_t now = engine_->now();
    if (now > startHostTime_) {
        tickCount_ = static_cast<std::uint64_t>(host_clock::ticksToSeconds(static_cast<std::int64_t>(now - startHostTime_)) /
                                                interval_);
    }
}

double Metronome::tickTime(std::uint64_t tick, const std::vector<double>& offsets) const {
    if (offsets.empty()) return static_cast<double>(tick) * interval_;
    if (tick < offsets.size()) return offsets[tick];
    const double step = std::max(kMinInterval, offsets.size() >= 2 ? offsets.back() - offsets[offsets.size() - 2] : interval_.load());
    return offsets.back() + static_cast<double>(tick - offsets.size() + 1) * step;
}

std::shared_ptr<const AudioBuffer> Metronome::clickFor(std::uint64_t tick, const Clicks& clicks,
                                                       const std::vector<double>& volumes) const {
    if (volume_ <= 0.0001F && clicks.silent) return clicks.silent;
    bool accented = false;
    if (!volumes.empty()) {
        accented = tick >= volumes.size() || volumes[tick] >= 1.0;
    } else {
        const std::int64_t perMeasure = beatsPerMeasure_;
        accented = perMeasure < 1 || (startBeatOffset_ + static_cast<std::int64_t>(tick)) % perMeasure == 0;
    }
    return accented || !clicks.soft ? clicks.full : clicks.soft;
}

void Metronome::schedulePendingTicks() {
    const auto clicks = clicks_.get();
    const std::uint64_t start = startHostTime_;
    if (!running_ || !clicks || start == 0) return;
    const std::uint64_t now = engine_->now();
    const std::uint64_t horizon = now + static_cast<std::uint64_t>(host_clock::secondsToTicks(kLookaheadIntervals * interval_));
    const auto offsets = beatOffsetsSec_.get();
    const auto volumes = beatVolumesScale_.get();
    std::uint64_t scheduled = 0;
    for (;; ++scheduledUpTo_) {
        const std::uint64_t tick = scheduledUpTo_;
        const std::uint64_t hostTime = start + static_cast<std::uint64_t>(host_clock::secondsToTicks(tickTime(tick, offsets)));
        if (hostTime > horizon) break;
        if (hostTime < now) {
            log(formatText("skip tick=%lu (%.1fms past)", static_cast<unsigned long>(tick),
                       host_clock::ticksToSeconds(static_cast<std::int64_t>(now - hostTime)) * 1000));
            continue;
        }
        player_->scheduleBuffer(clickFor(tick, *clicks, volumes), hostTime);
        log(formatText("tick=%lu in=%.0fms", static_cast<unsigned long>(tick),
                   host_clock::ticksToSeconds(static_cast<std::int64_t>(hostTime - now)) * 1000));
        ++scheduled;
    }
    if (scheduled > 0) log(formatText("scheduled %lu ticks", static_cast<unsigned long>(scheduled)));
}

void Metronome::schedulePendingTicksNow() {
    std::lock_guard lock(owner_->mutex);
    schedulePendingTicks();
}

// Under the mutex of the refills: a refill already scheduling has queued its clicks before the
// player's stop, which drops them, and none schedules after it.
void Metronome::stop() {
    if (scheduleTimer_) scheduleTimer_->cancel();
    std::lock_guard lock(owner_->mutex);
    if (running_) log(formatText("stop() — tickCount=%lu", static_cast<unsigned long>(tickCount_.load())));
    running_ = false;
    tickCount_ = 0;
    startHostTime_ = 0;
    scheduledUpTo_ = 0;
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

// A spacing from a request may be any number: clicks come between ten a second and one a minute.
void Metronome::setInterval(double seconds) {
    interval_ = std::isfinite(seconds) ? std::clamp(seconds, kMinInterval, kMaxInterval) : kMinInterval;
}

void Metronome::setTempoMapBeatOffsets(std::vector<double> offsetsSec) {
    beatOffsetsSec_.set(offsetsSec.size() > 1 ? std::move(offsetsSec) : std::vector<double>{});
}

void Metronome::setTempoMapBeatVolumes(std::vector<double> volumesScale) {
    beatVolumesScale_.set(volumesScale.size() > 1 ? std::move(volumesScale) : std::vector<double>{});
}

void Metronome::setMetronomeMeterBeatsPerMeasure(std::int64_t beatsPerMeasure, std::int64_t startBeatOffset) {
    beatsPerMeasure_ = beatsPerMeasure;
    startBeatOffset_ = startBeatOffset;
}

}  // namespace kv

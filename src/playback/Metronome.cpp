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
#include <future>
#include <string>
#include <thread>

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

const char* label(double errorMs) {
    const double magnitude = std::abs(errorMs);
    return magnitude < 2 ? "GOOD" : magnitude < 5 ? "OK" : magnitude < 10 ? "WARN" : "LATE";
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
    {
        std::lock_guard lock(owner_->mutex);
        owner_->metronome = nullptr;
    }
    stop();
    scheduleTimer_.reset();
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
    if (clicks_.get()) {
        start(seconds, hostTime);
        return;
    }
    log("Waiting for buffer...");
    scheduleQueue_.async([this, seconds, hostTime] {
        for (int poll = 0; poll < 40; ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (clicks_.get()) {
                start(seconds, hostTime);
                return;
            }
        }
        log("Timeout waiting for buffer");
    });
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
    running_ = true;
    applyMixerVolume();
    scheduleQueue_.async([this] {
        scheduledUpTo_ = 0;
        driftSum_ = driftMaxAbs_ = 0;
        driftSamples_ = 0;
        schedulePendingTicks();
    });
    scheduleTimer_ = std::make_unique<RepeatingTimer>(scheduleQueue_.executor(), kScheduleEvery, [this] {
        if (!running_) return;
        schedulePendingTicks();
        const std::uint64_t now = engine_->now();
        if (now > startHostTime_) {
            tickCount_ = static_cast<std::uint64_t>(host_clock::ticksToSeconds(static_cast<std::int64_t>(now - startHostTime_)) /
                                                    interval_);
        }
    });
    scheduleTimer_->start();
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
        player_->scheduleBuffer(clickFor(tick, *clicks, volumes), hostTime,
                                [owner = owner_, tick, hostTime](bool played, std::uint64_t startedAt) {
                                    std::lock_guard lock(owner->mutex);
                                    Metronome* metronome = owner->metronome;
                                    if (played && metronome && metronome->running_) {
                                        metronome->measure(tick, hostTime, startedAt);
                                    }
                                });
        log(formatText("tick=%lu in=%.0fms", static_cast<unsigned long>(tick),
                   host_clock::ticksToSeconds(static_cast<std::int64_t>(hostTime - now)) * 1000));
        ++scheduled;
    }
    if (scheduled > 0) log(formatText("scheduled %lu ticks", static_cast<unsigned long>(scheduled)));
}

// The error is where the click was really heard against where it was scheduled.
void Metronome::measure(std::uint64_t tick, std::uint64_t hostTime, std::uint64_t startedAt) {
    const double errorMs = host_clock::ticksToSeconds(static_cast<std::int64_t>(startedAt - hostTime)) * 1000;
    log(formatText("tick=%lu actual=%+.2fms [%s]", static_cast<unsigned long>(tick), errorMs, label(errorMs)));
    scheduleQueue_.async([this, errorMs] {
        driftSum_ += errorMs;
        ++driftSamples_;
        driftMaxAbs_ = std::max(driftMaxAbs_, std::abs(errorMs));
        if (driftSamples_ % 8 == 0) {
            log(formatText("--- 8-tick summary: avg=%+.2fms max=%.2fms ---", driftSum_ / static_cast<double>(driftSamples_),
                       driftMaxAbs_));
        }
    });
}

void Metronome::schedulePendingTicksNow() {
    onScheduleQueue([this] { schedulePendingTicks(); });
}

void Metronome::onScheduleQueue(const std::function<void()>& work) {
    if (scheduleQueue_.isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    scheduleQueue_.async([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

// The player stops on the schedule queue, after a pass that may already be scheduling: its
// clicks are queued before the stop, which drops them.
void Metronome::stop() {
    if (running_) log(formatText("stop() — tickCount=%lu", static_cast<unsigned long>(tickCount_.load())));
    running_ = false;
    tickCount_ = 0;
    startHostTime_ = 0;
    if (scheduleTimer_) scheduleTimer_->cancel();
    onScheduleQueue([this] {
        scheduledUpTo_ = 0;
        player_->stop();
    });
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

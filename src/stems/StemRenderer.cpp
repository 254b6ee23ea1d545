#include "stems/StemRenderer.h"

#include "base/Console.h"
#include "base/TextFormat.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace kv {

std::shared_ptr<StemRenderer> StemRenderer::make(std::shared_ptr<const DecodedAudio> recording, std::int64_t instrument, float rate,
                                                 double outputRate, AudioButler& butler) {
    if (!recording || recording->frames() == 0) {
        consoleLine(formatText("[ST] _makeStemFromRaw: buffer rỗng (instr=%ld)", static_cast<long>(instrument)));
        return nullptr;
    }
    auto stem = std::make_shared<StemRenderer>(std::move(recording), instrument, rate, outputRate, butler);
    consoleLine(formatText("[ST] make stem instr=%ld sr=%.0f ch=%u frames=%u rate=%.4f", static_cast<long>(instrument), stem->sampleRate_,
                           static_cast<unsigned>(stem->recording_->planes.size()), stem->totalFrames_, static_cast<double>(rate)));
    return stem;
}

// SoundTouch stretches by the tempo and, by its rate, brings the recording to the engine's
// sample rate: the engine runs every node at its own rate.
StemRenderer::StemRenderer(std::shared_ptr<const DecodedAudio> recording, std::int64_t instrument, float rate, double outputRate,
                           AudioButler& butler)
    : recording_(std::move(recording)),
      instrumentId_(instrument),
      left_(recording_->planes.front().data()),
      right_(recording_->planes.size() > 1 ? recording_->planes[1].data() : left_),
      totalFrames_(recording_->frames()),
      sampleRate_(recording_->sampleRate),
      outputRate_(outputRate),
      targetOutputRate_(outputRate),
      butler_(butler),
      ringCapacity_(static_cast<std::uint64_t>(outputRate * 0.3)),
      ring_(ringCapacity_ * 2, 0.0F) {
    soundTouch_.setSampleRate(static_cast<unsigned>(sampleRate_));
    soundTouch_.setChannels(2);
    soundTouch_.setTempo(rate);
    soundTouch_.setRate(sampleRate_ / outputRate_);
    soundTouch_.setSetting(SETTING_USE_AA_FILTER, 1);
    soundTouch_.setSetting(SETTING_USE_QUICKSEEK, 0);
}

void StemRenderer::arm(double startSeconds, double endSeconds, float rate, std::uint64_t startHostTime) {
    const auto startFrame = static_cast<std::uint32_t>(
        std::clamp(std::floor(sampleRate_ * startSeconds * rate), 0.0, static_cast<double>(totalFrames_)));
    auto endFrame = totalFrames_;
    if (endSeconds > 0.001) {
        const double end = std::floor(sampleRate_ * endSeconds * rate);
        if (end >= startFrame && end < totalFrames_) endFrame = static_cast<std::uint32_t>(end);
    }
    // Silent until the new start is published: a render meanwhile must not take the old start
    // time for the new segment's.
    started_ = false;
    startHostTime_ = 0;
    while (reading_.load()) std::this_thread::yield();  // a render that began before the stop
    cursor_ = startFrame;
    endFrame_ = endFrame;
    drained_ = false;
    exhausted_ = false;
    ended_ = false;
    owed_ = 0;
    readPos_ = 0;
    writePos_ = 0;
    soundTouch_.clear();
    soundTouch_.setTempo(rate);
    playedDurationSec_ = static_cast<double>(endFrame - startFrame) / sampleRate_ / rate;
    started_ = true;
    fill();
    startHostTime_.store(startHostTime);  // last: the ring is primed before any render may read it
}

void StemRenderer::fill() {
    if (!started_) return;
    if (const double rate = targetOutputRate_; rate != outputRate_) {
        soundTouch_.setRate(sampleRate_ / rate);
        outputRate_ = rate;
    }
    std::uint64_t free = ringCapacity_ - (writePos_.load() - readPos_.load());
    while (free > 0) {
        const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(kReceiveFrames, free));
        const unsigned got = soundTouch_.receiveSamples(outputChunk_.data(), wanted);
        if (got > 0) {
            const std::uint64_t at = writePos_.load() % ringCapacity_;
            const std::uint64_t first = std::min<std::uint64_t>(got, ringCapacity_ - at);
            std::copy_n(outputChunk_.data(), first * 2, ring_.data() + at * 2);
            std::copy_n(outputChunk_.data() + first * 2, (got - first) * 2, ring_.data());
            writePos_.fetch_add(got, std::memory_order_release);
            free -= got;
        } else if (drained_) {
            exhausted_.store(true, std::memory_order_release);
            return;
        } else if (cursor_ >= endFrame_) {
            soundTouch_.flush();
            drained_ = true;
        } else {
            feed();
        }
    }
}

void StemRenderer::feed() {
    const std::uint32_t count = std::min(endFrame_ - cursor_, kFeedFrames);
    for (std::uint32_t frame = 0; frame < count; ++frame) {
        inputChunk_[frame * 2] = left_[cursor_ + frame];
        inputChunk_[frame * 2 + 1] = right_[cursor_ + frame];
    }
    soundTouch_.putSamples(inputChunk_.data(), count);
    cursor_ += count;
}

void StemRenderer::stop() {
    started_ = false;
    startHostTime_ = 0;
}

void StemRenderer::render(const RenderContext& context) {
    reading_.store(true);
    const std::uint64_t start = startHostTime_.load();
    if (!started_.load() || start == 0 || ended_.load(std::memory_order_relaxed)) {
        reading_.store(false);
        return;
    }
    const std::int64_t skip = std::max<std::int64_t>(0, context.frameAt(start));
    if (skip >= context.frames) {
        reading_.store(false);
        return;
    }
    const bool exhausted = exhausted_.load(std::memory_order_acquire);  // before the write position it vouches for
    std::uint64_t read = readPos_.load(std::memory_order_relaxed);
    const std::uint64_t written = writePos_.load(std::memory_order_acquire);
    const std::uint64_t wanted = context.frames - static_cast<std::uint32_t>(skip);
    const std::uint64_t count = take(wanted, read, written);
    float* output = context.output + skip * 2;
    for (std::uint64_t frame = 0; frame < count; ++frame, ++read) {
        const std::uint64_t slot = read % ringCapacity_;
        output[frame * 2] += ring_[slot * 2];
        output[frame * 2 + 1] += ring_[slot * 2 + 1];
    }
    readPos_.store(read, std::memory_order_release);
    if (count < wanted) {
        if (exhausted) {
            ended_.store(true, std::memory_order_release);
        } else {
            owed_ += wanted - count;
        }
    }
    if (ended_.load(std::memory_order_relaxed) || (written - read) * 2 < ringCapacity_) butler_.summon();
    reading_.store(false);
}

std::uint64_t StemRenderer::take(std::uint64_t wanted, std::uint64_t& read, std::uint64_t written) {
    const std::uint64_t skipped = std::min(owed_, written - read);
    read += skipped;
    owed_ -= skipped;
    return std::min(wanted, written - read);
}

}  // namespace kv

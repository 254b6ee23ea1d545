#include "audio/PlayerNode.h"

#include <algorithm>

namespace kv {

bool PlayerNode::scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, std::uint64_t hostTime,
                                PlayerCompletionHandler completion, std::uint32_t maxFrames) {
    Scheduled scheduled;
    scheduled.end = buffer ? std::min(buffer->frames(), maxFrames) : 0;
    scheduled.buffer = std::move(buffer);
    scheduled.hostTime = hostTime;
    scheduled.completion = std::move(completion);
    scheduled.generation = stops_.load(std::memory_order_acquire);
    return commands_.push(scheduled);
}

bool PlayerNode::finish(std::size_t index, bool played) {
    if (finishedCount_ == finished_.size()) return false;
    Scheduled& done = active_[index];
    finished_[finishedCount_++] = PlayerCompletion{std::move(done.completion), std::move(done.buffer), played, done.startedAt};
    done = std::move(active_[activeCount_ - 1]);
    active_[activeCount_ - 1] = Scheduled{};
    --activeCount_;
    return true;
}

void PlayerNode::handOver() {
    std::size_t handed = 0;
    while (handed < finishedCount_ && butler_.post(std::move(finished_[handed]))) ++handed;
    if (handed == 0) return;
    std::move(finished_.begin() + static_cast<std::ptrdiff_t>(handed),
              finished_.begin() + static_cast<std::ptrdiff_t>(finishedCount_), finished_.begin());
    finishedCount_ -= handed;
    butler_.summon();
}

// A buffer that cannot be finished yet (the butler far behind) stays where it is: a dropped one
// falls silent all the same, a played one ends on its last frame.
void PlayerNode::render(const RenderContext& context) {
    handOver();
    while (activeCount_ < kMaxScheduled) {
        auto scheduled = commands_.pop();
        if (!scheduled) break;
        active_[activeCount_++] = std::move(*scheduled);
    }
    const std::uint64_t stops = stops_.load(std::memory_order_acquire);
    const float gain = gain_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < activeCount_;) {
        Scheduled& scheduled = active_[i];
        if (scheduled.generation != stops) scheduled.dropped = true;
        const bool ended = !scheduled.buffer || scheduled.dropped || scheduled.position >= scheduled.end;
        if (!ended) mix(scheduled, context, gain);
        const bool played = scheduled.buffer && !scheduled.dropped && scheduled.position >= scheduled.end;
        if ((ended || played) && finish(i, played)) continue;
        ++i;
    }
    handOver();
}

void PlayerNode::takeUnfinished(std::vector<PlayerCompletion>& into) {
    while (auto scheduled = commands_.pop()) into.push_back({std::move(scheduled->completion), std::move(scheduled->buffer)});
    for (std::size_t i = 0; i < activeCount_; ++i) {
        into.push_back({std::move(active_[i].completion), std::move(active_[i].buffer), false, active_[i].startedAt});
        active_[i] = Scheduled{};
    }
    activeCount_ = 0;
    for (std::size_t i = 0; i < finishedCount_; ++i) into.push_back(std::move(finished_[i]));
    finishedCount_ = 0;
}

void PlayerNode::mix(Scheduled& scheduled, const RenderContext& context, float gain) {
    std::int64_t first = 0;
    if (!scheduled.started) {
        if (scheduled.hostTime != kAsSoonAsPossible) first = std::max<std::int64_t>(0, context.frameAt(scheduled.hostTime));
        if (first >= context.frames) return;
        scheduled.started = true;
        scheduled.startedAt = context.hostTime + static_cast<std::uint64_t>(static_cast<double>(first) * 1e9 / context.sampleRate);
    }
    float* to = context.output + static_cast<std::size_t>(first) * 2;
    const auto frames = context.frames - static_cast<std::uint32_t>(first);
    const double rate = scheduled.buffer->sampleRate;
    if (rate > 0 && rate != context.sampleRate) return mixAtOtherRate(scheduled, to, frames, rate / context.sampleRate, gain);
    const auto position = static_cast<std::uint32_t>(scheduled.position);
    const auto count = std::min<std::uint32_t>(scheduled.end - position, frames);
    const float* from = scheduled.buffer->samples.data() + static_cast<std::size_t>(position) * 2;
    for (std::uint32_t i = 0; i < count * 2; ++i) to[i] += from[i] * gain;
    scheduled.position += count;
}

void PlayerNode::mixAtOtherRate(Scheduled& scheduled, float* to, std::uint32_t frames, double step, float gain) {
    const float* samples = scheduled.buffer->samples.data();
    const std::uint32_t last = scheduled.end - 1;
    for (std::uint32_t i = 0; i < frames && scheduled.position < scheduled.end; ++i, scheduled.position += step) {
        const auto k = static_cast<std::uint32_t>(scheduled.position);
        const auto next = std::min(k + 1, last);
        const auto fraction = static_cast<float>(scheduled.position - k);
        for (std::uint32_t c = 0; c < 2; ++c) {
            to[i * 2 + c] += (samples[k * 2 + c] * (1 - fraction) + samples[next * 2 + c] * fraction) * gain;
        }
    }
}

}  // namespace kv

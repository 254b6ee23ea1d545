#include "platform/audio/PlayerNode.h"

#include <algorithm>

namespace kv {

bool PlayerNode::scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, std::uint64_t hostTime,
                                PlayerCompletionHandler completion) {
    Command command;
    command.scheduled.buffer = std::move(buffer);
    command.scheduled.hostTime = hostTime;
    command.scheduled.completion = std::move(completion);
    return commands_.push(std::move(command));
}

void PlayerNode::stop() {
    Command command;
    command.stop = true;
    commands_.push(std::move(command));
}

void PlayerNode::take(Command command) {
    if (command.stop) {
        while (activeCount_ > 0) finish(activeCount_ - 1, false);
        return;
    }
    if (activeCount_ == kMaxScheduled) {
        completions_.push(PlayerCompletion{std::move(command.scheduled.completion),
                                           std::move(command.scheduled.buffer), false, 0});
        return;
    }
    active_[activeCount_++] = std::move(command.scheduled);
}

void PlayerNode::finish(std::size_t index, bool played) {
    Scheduled& done = active_[index];
    // When the completion queue is full the handler is lost, never the audio thread's time.
    completions_.push(PlayerCompletion{std::move(done.completion), std::move(done.buffer), played, done.startedAt});
    done = std::move(active_[activeCount_ - 1]);
    active_[activeCount_ - 1] = Scheduled{};
    --activeCount_;
}

void PlayerNode::render(const RenderContext& context) {
    while (auto command = commands_.pop()) take(std::move(*command));
    const float gain = gain_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < activeCount_;) {
        Scheduled& scheduled = active_[i];
        if (!scheduled.buffer) {
            finish(i, false);
            continue;
        }
        mix(scheduled, context, gain);
        if (scheduled.position >= scheduled.buffer->frames()) {
            finish(i, true);
            continue;
        }
        ++i;
    }
}

void PlayerNode::mix(Scheduled& scheduled, const RenderContext& context, float gain) {
    std::int64_t first = 0;
    if (!scheduled.started) {
        if (scheduled.hostTime != kAsSoonAsPossible) first = std::max<std::int64_t>(0, context.frameAt(scheduled.hostTime));
        if (first >= context.frames) return;
        scheduled.started = true;
        scheduled.startedAt = context.hostTime + static_cast<std::uint64_t>(static_cast<double>(first) * 1e9 / context.sampleRate);
    }
    const auto& samples = scheduled.buffer->samples;
    const std::uint32_t available = scheduled.buffer->frames() - scheduled.position;
    const auto count = std::min<std::uint32_t>(available, context.frames - static_cast<std::uint32_t>(first));
    const float* from = samples.data() + static_cast<std::size_t>(scheduled.position) * 2;
    float* to = context.output + static_cast<std::size_t>(first) * 2;
    for (std::uint32_t i = 0; i < count * 2; ++i) to[i] += from[i] * gain;
    scheduled.position += count;
}

}  // namespace kv

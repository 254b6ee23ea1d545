#pragma once

#include "audio/AudioButler.h"
#include "audio/AudioNode.h"
#include "audio/PlayerCompletion.h"
#include "audio/RealtimeQueue.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

namespace kv {

// Plays buffers scheduled at host times, each starting on the exact frame of its time (a time
// already past starts at once). Every buffer ends with its completion handler, called on the
// engine's butler thread. A buffer made for another rate than the engine's now (the engine
// moved to an output at another rate) plays at its own pitch and length, interpolated.
class PlayerNode : public AudioNode {
public:
    static constexpr std::size_t kMaxScheduled = 64;
    static constexpr std::uint64_t kAsSoonAsPossible = 0;

    explicit PlayerNode(AudioButler& butler) : butler_(butler) {}

    // Any thread. False when too many buffers are waiting. At most `maxFrames` of the buffer play.
    bool scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, std::uint64_t hostTime,
                        PlayerCompletionHandler completion = {},
                        std::uint32_t maxFrames = std::numeric_limits<std::uint32_t>::max());
    // Drops every buffer scheduled before it (their handlers get played = false), however many
    // wait: a stop is a generation, never a queued command that a full queue could refuse.
    void stop() { stops_.fetch_add(1, std::memory_order_release); }
    void setVolume(float gain) { gain_.store(gain, std::memory_order_relaxed); }
    float volume() const { return gain_.load(std::memory_order_relaxed); }

    void prepare(double, std::uint32_t) override {}
    void render(const RenderContext& context) override;
    // What was scheduled and not played ends as not played; finished buffers keep their outcome.
    void takeUnfinished(std::vector<PlayerCompletion>& into) override;

private:
    struct Scheduled {
        std::shared_ptr<const AudioBuffer> buffer;
        std::uint64_t hostTime = 0;
        PlayerCompletionHandler completion;
        std::uint32_t end = 0;  // frames of the buffer to play
        double position = 0;    // frames of the buffer already played
        bool started = false;
        bool dropped = false;         // by a stop
        std::uint64_t generation = 0;  // the stops before it was scheduled
        std::uint64_t startedAt = 0;
    };

    // Moves the buffer to those that wait for the butler; false when they are all taken.
    bool finish(std::size_t index, bool played);
    void handOver();
    void mix(Scheduled& scheduled, const RenderContext& context, float gain);
    static void mixAtOtherRate(Scheduled& scheduled, float* to, std::uint32_t frames, double step, float gain);

    AudioButler& butler_;
    RealtimeQueue<Scheduled, 256> commands_;
    std::atomic<std::uint64_t> stops_{0};
    std::array<Scheduled, kMaxScheduled> active_;  // audio thread only
    std::size_t activeCount_ = 0;
    // Finished buffers the butler's full queue could not take yet: held here, never freed on the
    // audio thread.
    std::array<PlayerCompletion, kMaxScheduled> finished_;  // audio thread only
    std::size_t finishedCount_ = 0;
    std::atomic<float> gain_{1.0F};
};

}  // namespace kv

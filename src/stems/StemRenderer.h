#pragma once

#include "audio/AudioButler.h"
#include "audio/AudioNode.h"
#include "audio/MixerNode.h"
#include "audio/Mp3Decoder.h"

#include <SoundTouch.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace kv {

// One backing track played at another tempo than it was recorded at, its pitch unchanged, from a
// sample-exact host time. SoundTouch stretches the recording (and brings it to the engine's rate)
// on the butler into a ring of 0.3 s; the audio thread only copies from the ring, summons the
// butler when the ring falls below half, and keeps the stem on the timeline through a dry ring.
class StemRenderer : public AudioNode {
public:
    static constexpr std::uint32_t kFeedFrames = 1024;
    static constexpr std::uint32_t kReceiveFrames = 8192;

    // Nothing for an empty recording.
    static std::shared_ptr<StemRenderer> make(std::shared_ptr<const DecodedAudio> recording, std::int64_t instrument, float rate,
                                              double outputRate, AudioButler& butler);
    StemRenderer(std::shared_ptr<const DecodedAudio> recording, std::int64_t instrument, float rate, double outputRate,
                 AudioButler& butler);

    // The next fill brings the recording to that rate.
    void prepare(double sampleRate, std::uint32_t) override { targetOutputRate_.store(sampleRate); }
    // Audio thread: no lock, no allocation, no stretching.
    void render(const RenderContext& context) override;

    // Fill thread: primes the ring for the segment (seconds of the song at the playing tempo; an
    // end of 0 plays to the end), then publishes the start.
    void arm(double startSeconds, double endSeconds, float rate, std::uint64_t startHostTime);
    // Fill thread: tops the ring up.
    void fill();
    // Any thread: silent from the next render on; the next arm starts it again.
    void stop();
    // Any thread: the armed segment has sounded to its last frame.
    bool hasEnded() const { return ended_.load(std::memory_order_acquire); }

    std::int64_t instrumentId() const { return instrumentId_; }
    double playedDurationSec() const { return playedDurationSec_.load(); }
    const std::shared_ptr<MixerNode>& gain() const { return gain_; }

private:
    void feed();
    // Audio thread: the frames a dry ring could not give are skipped once it has them again.
    std::uint64_t take(std::uint64_t wanted, std::uint64_t& read, std::uint64_t written);

    std::shared_ptr<const DecodedAudio> recording_;
    std::int64_t instrumentId_;
    std::shared_ptr<MixerNode> gain_ = std::make_shared<MixerNode>();
    soundtouch::SoundTouch soundTouch_;
    const float* left_;
    const float* right_;
    std::uint32_t totalFrames_;
    double sampleRate_;
    double outputRate_;  // fill thread
    std::atomic<double> targetOutputRate_;
    std::uint32_t cursor_ = 0;    // fill thread
    std::uint32_t endFrame_ = 0;  // fill thread
    bool drained_ = false;        // fill thread
    AudioButler& butler_;
    std::atomic<double> playedDurationSec_{0};
    std::vector<float> inputChunk_ = std::vector<float>(kFeedFrames * 2);
    std::vector<float> outputChunk_ = std::vector<float>(kReceiveFrames * 2);
    // Hand-written, not boost::lockfree::spsc_queue: each start empties it by setting both
    // positions back to 0 from the writer's side, which that queue does not allow.
    std::uint64_t ringCapacity_;
    std::vector<float> ring_;
    std::atomic<std::uint64_t> writePos_{0};
    std::atomic<std::uint64_t> readPos_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> reading_{false};  // a render is copying from the ring
    std::atomic<bool> exhausted_{false};  // every frame of the segment is in the ring
    std::atomic<bool> ended_{false};
    std::uint64_t owed_ = 0;  // audio thread; reset by arm while no render reads
    std::atomic<std::uint64_t> startHostTime_{0};
};

}  // namespace kv

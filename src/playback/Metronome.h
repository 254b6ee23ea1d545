#pragma once

#include "audio/AudioBuffer.h"
#include "audio/AudioEngine.h"
#include "audio/MixerNode.h"
#include "audio/PlayerNode.h"
#include "base/SharedObject.h"
#include "base/Synchronized.h"
#include "platform/dispatch/RepeatingTimer.h"

#include <boost/asio/any_io_executor.hpp>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kv {

// Clicks placed on the audio clock: each tick is a click buffer scheduled at its exact host time,
// about eight intervals ahead, refilled every 100 ms on the play's queue (shared with the rest of
// the play's hand-over). Downbeats get the full click, other beats a softer, higher one.
class Metronome {
public:
    static Metronome& shared() { return Shared<Metronome>::get(); }

    // The refills run on the schedule executor.
    Metronome(AudioEngine& engine, const std::filesystem::path& tickFile, boost::asio::any_io_executor schedule);
    ~Metronome();
    Metronome(const Metronome&) = delete;
    Metronome& operator=(const Metronome&) = delete;

    // Tick 0 sounds at the host time (on the engine's clock; 10 ms from now at the earliest).
    void startWithInterval(double seconds, std::uint64_t hostTime);
    void stop();
    void setVolume(float volume);
    void setInterval(double seconds);
    void setTempoMapBeatOffsets(std::vector<double> offsetsSec);
    void setTempoMapBeatVolumes(std::vector<double> volumesScale);
    void setMetronomeMeterBeatsPerMeasure(std::int64_t beatsPerMeasure, std::int64_t startBeatOffset);
    bool isRunning() const { return running_; }
    float maxTickGain() const { return maxTickGain_; }
    float mixerVolume() const { return mixer_->outputVolume(); }
    // Runs one scheduling pass now, on the calling thread, as a refill would.
    void schedulePendingTicksNow();

    static AudioBuffer scaledBuffer(const AudioBuffer& buffer, float scale);

private:
    // Lets refills reach the metronome only while it exists; its mutex orders refills, stops and
    // the metronome's end.
    struct Owner {
        explicit Owner(Metronome* owner) : metronome(owner) {}
        std::mutex mutex;
        Metronome* metronome;
    };
    struct Clicks {
        std::shared_ptr<const AudioBuffer> full;
        std::shared_ptr<const AudioBuffer> soft;
        std::shared_ptr<const AudioBuffer> silent;
    };

    void loadAudioFile(const std::filesystem::path& path);
    void start(double seconds, std::uint64_t hostTime);
    // Under the owner's mutex.
    void schedulePendingTicks();
    void refill();
    double tickTime(std::uint64_t tick, const std::vector<double>& offsets) const;
    std::shared_ptr<const AudioBuffer> clickFor(std::uint64_t tick, const Clicks& clicks,
                                                const std::vector<double>& volumes) const;
    void applyMixerVolume();

    std::shared_ptr<Owner> owner_ = std::make_shared<Owner>(this);
    AudioEngine* engine_;
    boost::asio::any_io_executor schedule_;
    std::shared_ptr<PlayerNode> player_;
    std::shared_ptr<MixerNode> mixer_ = std::make_shared<MixerNode>();
    Synchronized<std::optional<Clicks>> clicks_;

    std::atomic<bool> running_{false};
    std::atomic<float> volume_{1.0F};
    std::atomic<float> maxTickGain_{4.0F};
    std::atomic<double> interval_{0.5};
    std::atomic<std::uint64_t> tickCount_{0};
    std::atomic<std::uint64_t> startHostTime_{0};
    std::atomic<double> outputLatencyMs_{0};
    std::atomic<std::int64_t> beatsPerMeasure_{0};
    std::atomic<std::int64_t> startBeatOffset_{0};
    Synchronized<std::vector<double>> beatOffsetsSec_;
    Synchronized<std::vector<double>> beatVolumesScale_;

    std::uint64_t scheduledUpTo_ = 0;  // under the owner's mutex
    std::unique_ptr<RepeatingTimer> scheduleTimer_;
};

}  // namespace kv

#pragma once

#include "platform/dispatch/SerialQueue.h"
#include "playback/PlayPlan.h"

#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace kv {

// The performance of one play on the Playback queue: the count-off's sounds, then the song's
// groups and, from the song's start until the play stops, the metronome's clicks, each handed to
// what sounds it some tens of milliseconds ahead of its host time on the plan's one timeline, and
// all notes off where the range ends. Between hand-overs it waits on a timer of the queue. It
// reads only its plan and changes nothing of the service's state: that is the play's lifecycle's.
class PlaySongLogic : public std::enable_shared_from_this<PlaySongLogic> {
public:
    // How far ahead of its time sound is handed to the engine.
    static constexpr std::uint64_t kAheadNs = 60'000'000;

    // The milliseconds before the song's start at which keys begin to count: 16000 / tempo, at
    // most 200.
    static float timeGetNoteEarlyFor(std::int32_t tempo);
    // The metronome's beats a measure (a compound meter counts its dotted beats; at least 1) and
    // the beat within the measure on which the play starts.
    struct MetronomeMeter {
        std::int64_t beatsPerMeasure;
        std::int64_t startBeatOffset;
    };
    static MetronomeMeter metronomeMeter(std::int32_t beat, std::int32_t beatType, std::int32_t startBeat);

    // The count-off's volume (0 … 100) is read as each sound goes, and must outlive the performance.
    PlaySongLogic(PlayPlan plan, const std::atomic<std::int32_t>& countOffVolume);

    void start(SerialQueue& playback);
    // Ends the performance at once: once this returns nothing more is handed over, and the
    // count-off's sounds are silent. The song's notes and the clicks handed over are the caller's.
    void stop();

private:
    // Where the performance is: what it hands over next.
    enum class Step { countOff, chase, song, end, done };

    // Hands over everything due by now, then waits for the next.
    void advance();
    // The host time at which the next hand-over of the count-off or song is due; none once they
    // are over.
    std::optional<std::uint64_t> nextDue() const;
    // The same for the next click; none without clicks.
    std::optional<std::uint64_t> nextClickDue() const;
    bool handClick();
    // Hands over the next thing and moves past it; false when stopped.
    bool handNext();
    // The song after the count-off, when the plan has one to play.
    void afterCountOff();
    bool playGroup();
    void chase() const;
    bool stopped();
    // Hands over under the lock stop() takes: false when stopped, and then nothing is handed over.
    template <class Hand>
    bool handOver(Hand hand);
    std::uint64_t hostTimeOfGroup(std::size_t index) const;
    std::uint64_t tickHost(std::size_t index) const;
    std::uint64_t clickHost(std::uint64_t tick) const;

    const PlayPlan plan_;
    const std::atomic<std::int32_t>& countOffVolume_;
    std::mutex mutex_;
    bool stopped_ = false;  // under mutex_
    // The queue's own from start() on.
    std::unique_ptr<boost::asio::steady_timer> timer_;
    Step step_ = Step::countOff;
    std::size_t index_ = 0;            // of the tick or group next
    std::uint64_t previousTick_ = 0;   // host time of the tick handed over last
    std::uint64_t end_ = 0;            // host time of the range's end
    std::uint64_t nextClick_ = 0;      // the metronome's tick next
};

}  // namespace kv

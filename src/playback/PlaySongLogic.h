#pragma once

#include "platform/dispatch/SerialQueue.h"
#include "playback/PlayPlan.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace kv {

// The performance of one play on the Playback queue: the count-off's sounds, then the song's
// groups, each handed to the engine or the synthesizer some tens of milliseconds ahead of its host
// time on the plan's one timeline, and all notes off where the range ends. It reads only its plan
// and changes nothing of the service's state: that is the play's lifecycle's.
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

    explicit PlaySongLogic(PlayPlan plan);

    void start(SerialQueue& playback);
    // Ends the performance at once: once this returns nothing more is handed to the engine or the
    // synthesizer, and the count-off's sounds are silent. The song's notes are the caller's.
    void stop();

private:
    void run();
    void playCountOff();
    void playSong();
    void chase() const;
    // Sleeps until the host time; false, at once, when stopped.
    bool waitUntil(std::uint64_t hostTime);
    // Hands over under the lock stop() takes: false when stopped, and then nothing is handed over.
    template <class Hand>
    bool handOver(Hand hand);
    std::uint64_t hostTimeOfGroup(std::size_t index) const;

    const PlayPlan plan_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;  // under mutex_
};

}  // namespace kv

#pragma once

#include "core/BaseRequestJSONObject.h"
#include "playback/MidiPlayList.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kv {

// One play of the prepared song on one timeline: the start date and the song's start (the start
// date plus the count-off) become host times once, and every count-off sound, metronome click,
// key light and song group is placed on the audio clock at its offset from them. The loops hand
// sound over some tens of milliseconds ahead of its time; the epoch, by which a newer play or a
// preparation supersedes this one, and a stop wake them at once.
class PlaySongLogic : public std::enable_shared_from_this<PlaySongLogic> {
public:
    // How far ahead of its time sound is handed to the engine.
    static constexpr std::uint64_t kAheadNs = 60'000'000;
    // The furthest a start may lie ahead: the play request waits for it on the main queue.
    static constexpr double kMaxStartWaitSeconds = 60;

    static std::mutex& transitionGate();
    static std::int32_t currentEpoch();
    static std::int32_t nextEpoch();
    // Supersedes every running play and puts out the key lights.
    static void cancelPlayback();
    // Something a play watches changed (a stop is waiting, the state moved): its waits look again.
    static void wakePlays();
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

    explicit PlaySongLogic(BaseRequestJSONObject request) : jsonRequest_(std::move(request)) {}

    // On the main queue: starts the play and returns at its start date. {message, code}.
    nlohmann::json execute();

private:
    void run();
    void playCountOff();
    void playSong();
    void playGroups(const std::vector<MidiPlayList>& groups, std::int32_t first, std::int32_t last);
    void emit(const MidiPlayList& group, std::uint64_t hostTime) const;
    void chase(const std::vector<MidiPlayList>& groups, std::int32_t first) const;
    void startMetronome() const;
    void startStems() const;
    void openGetNotes();
    bool superseded() const { return currentEpoch() != myEpoch_; }
    // Sleeps until the host time; false, at once, when `over` holds (looked at on every wake).
    bool waitUntil(std::uint64_t hostTime, const std::function<bool()>& over) const;
    std::uint64_t hostTimeOf(double songMilliseconds) const;

    std::atomic<bool> isPlayMode_{false};
    bool isAudio_ = false;  // a stem song: the stems play instead of the song loop
    std::int32_t myEpoch_ = 0;
    BaseRequestJSONObject jsonRequest_;
    std::uint64_t startHost_ = 0;      // the count-off's first tick
    std::uint64_t songStartHost_ = 0;  // baseTime: the song's first group
};

}  // namespace kv

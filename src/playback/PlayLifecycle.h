#pragma once

#include "audio/MidiReceiver.h"
#include "base/SharedObject.h"
#include "core/BackingTracks.h"
#include "core/BaseFlow.h"
#include "core/BaseRequestJSONObject.h"
#include "core/SongLights.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kv {

class KeyvoraFlow;
class Metronome;
class PlaySongLogic;
class SerialQueue;
class SongObject;
class SoundSystem;
struct PlayPlan;

// The life of a play, owned by the main queue: idle → preparing → ready → waiting for its start →
// counting off → playing, and back to idle at a stop. Every transition is a method run on the main
// queue. What a play sounds (its count-off and song, the clicks, the stems, the lights) runs under
// its generation and reports back here, where a superseded generation changes nothing; waits are
// timers, and a request that waits is answered when its timer fires. The flags that flows, routing
// and answers read (APP_STATE, isStopMusic, isStopPrepare) are written from the state at each
// transition.
class PlayLifecycle {
public:
    enum class State { idle, preparing, ready, waiting, countingOff, playing };

    // The furthest a start may lie ahead of now, or behind it.
    static constexpr std::chrono::seconds kMaxStartDistance{60};

    static PlayLifecycle& shared() { return Shared<PlayLifecycle>::get(); }

    // What a play drives and records.
    struct Parts {
        KeyvoraFlow& session;
        SongObject& song;
        MidiReceiver* synthesizer;
        Metronome& metronome;
        SerialQueue& playback;
        SongLights& lights;
        BackingTracks& tracks;
        // Woken before anything of a play is prepared: its output may rest meanwhile.
        SoundSystem& sound;
    };

    PlayLifecycle(boost::asio::any_io_executor mainQueue, Parts parts);
    ~PlayLifecycle();
    PlayLifecycle(const PlayLifecycle&) = delete;
    PlayLifecycle& operator=(const PlayLifecycle&) = delete;

    State state() const { return state_; }

    // The prepare request: refused while a play is on; otherwise every play ends and the song is
    // prepared, a stem song's stems in the background.
    void prepare(BaseRequestJSONObject request, BaseFlow::Answer answer);
    // The play request: checked first, and a refused one changes nothing; then the play before
    // ends, this one is planned on one timeline and answered at its start.
    void play(BaseRequestJSONObject request, BaseFlow::Answer answer);
    // The stop request: everything the play sounds ends at once; answered with the keys played.
    void stop(BaseFlow::Answer answer);
    // Calls `then` once the song proper plays, or after `bound`.
    void whenSongPlays(std::chrono::milliseconds bound, std::function<void()> then);
    // A device-setting or wait mode begins: the play ends (its mode is the caller's to set).
    void endForMode();
    // The service ends: nothing waits or sounds any more, and nothing more is answered.
    void shutdown();

private:
    struct Waiter {
        std::unique_ptr<boost::asio::steady_timer> timer;
        std::function<void()> then;
    };

    void enter(State state);
    // Ends what the current play sounds and cancels its timers; a new generation begins.
    void endPlay();
    bool playOn() const { return state_ == State::waiting || state_ == State::countingOff || state_ == State::playing; }
    void startLightsAndStems(const PlayPlan& plan);
    // Runs `work` on the main queue at the host time, unless the play ended first.
    void at(std::uint64_t hostTime, std::function<void()> work);
    void wakeWaiters();

    boost::asio::any_io_executor main_;
    KeyvoraFlow& session_;
    SongObject& song_;
    MidiReceiver* synthesizer_;
    Metronome& metronome_;
    SerialQueue& playback_;
    SongLights& lights_;
    BackingTracks& tracks_;
    SoundSystem& sound_;
    State state_ = State::idle;
    std::uint64_t generation_ = 0;
    bool closed_ = false;
    std::shared_ptr<PlaySongLogic> performance_;
    BaseFlow::Answer playAnswer_;  // the play request's, given at its start
    std::vector<std::unique_ptr<boost::asio::steady_timer>> timers_;  // the current play's
    std::vector<Waiter> waiters_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kv

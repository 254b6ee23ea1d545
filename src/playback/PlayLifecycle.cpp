#include "playback/PlayLifecycle.h"

#include "base/Console.h"
#include "base/DateText.h"
#include "base/HostClock.h"
#include "base/Instant.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "base/Numbers.h"
#include "base/TextFormat.h"
#include "core/KeyvoraFlow.h"
#include "playback/Metronome.h"
#include "playback/MetronomePlan.h"
#include "playback/PlaySongLogic.h"
#include "playback/PrepareSongData.h"
#include "playback/SongObject.h"
#include "playback/SoundSystem.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <variant>

namespace kv {

namespace {

constexpr const char* kBadStart = "Start time format is wrong.";
constexpr const char* kFarStart = "Start time is too far in the future.";
constexpr const char* kPastStart = "Start time is too far in the past.";

nlohmann::json failure(const char* message) {
    logText(kLogError, message);
    return {{"message", message}, {"code", -1}};
}

// Whole milliseconds since 1970 of the request's start, or the refusal.
std::variant<std::int64_t, nlohmann::json> startOf(const nlohmann::json& data) {
    const std::string text = json_reading::readString(data, "startTime").value_or("");
    if (text.size() != 23 && text.size() != 19) return failure(kBadStart);
    const auto start = toEpochMillis(text);
    if (!start) return failure(kBadStart);
    const auto now = static_cast<std::int64_t>(currentTimeMillis(std::chrono::system_clock::now()));
    const std::int64_t limit = std::chrono::milliseconds(PlayLifecycle::kMaxStartDistance).count();
    if (*start > now + limit) {
        consoleLine(formatText("[COUNTOFF][execute] WARN: sleepTimeStart=%.1fs > 60s → nghi playStartDate sai → count-off không tới đúng giờ",
                               static_cast<double>(*start - now) / 1000));
        return failure(kFarStart);
    }
    if (*start < now - limit) return failure(kPastStart);
    return *start;
}

// The metronome's clicks from the song's meter, or its tempo map where one is enabled.
ClickPlan clicksOf(const SongObject& song) {
    const MetronomeSong meter{song.tempoMap.get(), song.isTempoMapEnable, song.timeSignatureMap.get(), song.playBeat,
                              song.playBeatType, song.playTempo, song.playStartTime, song.playEndTime};
    auto beats = buildMetronomeBeatOffsetsRealSeconds(meter);
    consoleLine(formatText("[ACCENT] mv.count=%lu mo.count=%lu", static_cast<unsigned long>(beats ? beats->volumes.size() : 0),
                           static_cast<unsigned long>(beats ? beats->offsets.size() : 0)));
    const auto measure = PlaySongLogic::metronomeMeter(song.playBeat, song.playBeatType, song.playStartBeat);
    return ClickPlan::of(song.playTickSpacing / 1000, std::move(beats), measure.beatsPerMeasure,
                         measure.startBeatOffset);
}

bool songIsCached(const nlohmann::json& data) {
    const std::string songID = std::to_string(json_reading::readInt32(data, "songId").value_or(0));
    const auto cached = getMidiCacheFolderPathWithSongID(songID);
    return cached && File::isFileExistWithFilePath(*cached);
}

nlohmann::json playedKeys(KeyvoraFlow& session) {
    nlohmann::json eventList = nlohmann::json::array();
    for (const auto& event : session.listMidiEvents.takeAll()) {
        eventList.push_back({{"noteList", {{{"pitch", event.pitch}, {"octave", event.octave}}}}, {"time", event.pressTime}});
    }
    return eventList;
}

}  // namespace

PlayLifecycle::PlayLifecycle(boost::asio::any_io_executor mainQueue, Parts parts)
    : main_(std::move(mainQueue)),
      session_(parts.session),
      song_(parts.song),
      synthesizer_(parts.synthesizer),
      metronome_(parts.metronome),
      playback_(parts.playback),
      lights_(parts.lights),
      tracks_(parts.tracks),
      sound_(parts.sound) {}

PlayLifecycle::~PlayLifecycle() {
    *alive_ = false;
}

void PlayLifecycle::enter(State state) {
    state_ = state;
    if (state != State::idle) sound_.wake();
    auto& session = session_;
    switch (state) {
        case State::idle:
            session.isStopMusic = true;
            session.isStopPrepare = true;
            return;
        case State::preparing:
        case State::ready:
            session.APP_STATE = KeyvoraFlow::kPreparing;
            session.isStopMusic = true;
            session.isStopPrepare = false;
            return;
        case State::waiting:
        case State::countingOff:
            session.APP_STATE = KeyvoraFlow::kCountOff;
            session.isStopMusic = false;
            session.isStopPrepare = false;
            return;
        case State::playing:
            session.APP_STATE = KeyvoraFlow::kSongPlaying;
            wakeWaiters();
            return;
    }
}

// Every part of a play stops here, at once: the performance hands nothing more over, then the
// song's notes go off, the count-off's sounds, the clicks, the lights and the stems end.
void PlayLifecycle::endPlay() {
    ++generation_;
    for (auto& timer : timers_) timer->cancel();
    timers_.clear();
    if (auto answer = std::exchange(playAnswer_, {})) answer({{"message", "SUCCESS"}, {"code", 0}});
    if (auto performance = std::exchange(performance_, nullptr)) performance->stop();
    song_.stopPlaySong();
    metronome_.stop();
    lights_.stop();
    tracks_.end();
}

void PlayLifecycle::prepare(BaseRequestJSONObject request, BaseFlow::Answer answer) {
    if (closed_) return;
    auto& session = session_;
    if (session.APP_STATE != KeyvoraFlow::kIdle && !session.isStopMusic) {
        return answer({{"message", "THE DEVICE IS PLAYING MIDI FILE"}, {"code", 0}});
    }
    endPlay();
    enter(State::preparing);
    const std::uint64_t generation = generation_;
    const PrepareSongData::Parts parts{song_, synthesizer_, lights_, tracks_};
    std::make_shared<PrepareSongData>(std::move(request), main_, parts)->execute(
        [this, alive = alive_, generation, answer = std::move(answer)](nlohmann::json result) {
            if (!*alive || closed_ || generation != generation_) return;
            enter(State::ready);
            const auto device = session_.currentMidiDevice.get();
            result["isSetDevice"] = device && !device->name.empty() ? 1 : 0;
            if (result.value("code", 0) == 0) {
                result["message"] = "SUCCESS";
                result["code"] = 0;
            }
            answer(std::move(result));
        });
}

void PlayLifecycle::play(BaseRequestJSONObject request, BaseFlow::Answer answer) {
    if (closed_) return;
    if (!request.data || !request.data->is_object()) return answer(failure("ERROR OCCURED WHEN PROCESSING"));
    const nlohmann::json& data = *request.data;
    auto start = startOf(data);
    if (auto* refusal = std::get_if<nlohmann::json>(&start)) return answer(std::move(*refusal));
    if (!songIsCached(data)) {
        logText(kLogError, "File not exist");
        return answer({{"message", "Play midi song failed"}, {"code", -1}});
    }

    endPlay();
    auto& song = song_;
    auto& session = session_;
    session.listMidiEvents.clear();
    session.lastPlayMidi.set(std::chrono::system_clock::now());
    song.volume = json_reading::readInt32(data, "accompanimentVolume").value_or(0);
    song.metronomeVolume = json_reading::readInt32(data, "metronomeVolume").value_or(0);
    song.instrumentVolume = json_reading::readInt32(data, "instrumentVolume").value_or(0);
    if (const auto volume = json_reading::readInt32(data, "countOffVolume")) song.countOffVolume = *volume;

    PlayPlan plan;
    const auto startMillis = std::chrono::milliseconds(std::get<std::int64_t>(start));
    const Instant startInstant = Instant::atWallClock(Date(std::chrono::duration_cast<Date::duration>(startMillis)));
    plan.countOff = song.countOff.get();
    plan.startHost = startInstant.host;
    plan.songStartHost = plan.startHost + nanosFromMillis(plan.countOff.lengthMs);
    if (!song.isAudio) {
        plan.groups = song.midiData.get();
        plan.first = song.playStartIndex;
        plan.last = song.playEndIndex;
        plan.synthesizers = song.audioGraphCollection.get();
    }
    plan.clicks = clicksOf(song);
    plan.clickSound = &metronome_;
    const auto countOff = std::chrono::microseconds(static_cast<std::int64_t>(plan.countOff.lengthMs * 1000));
    session.baseTime.set(Instant{startInstant.wall + countOff, plan.songStartHost});
    session.timeGetNoteEarly = PlaySongLogic::timeGetNoteEarlyFor(song.playTempo);
    song.latency = 0;
    consoleLine(formatText("[COUNTOFF][execute] epoch=%llu playStartDate=%lld countOffCount=%lu totalCountOffTime=%.0fms",
                           static_cast<unsigned long long>(generation_), static_cast<long long>(startMillis.count()),
                           static_cast<unsigned long>(plan.countOff.ticks.size()), plan.countOff.lengthMs));
    enter(State::waiting);
    metronome_.setVolume(static_cast<float>(song.metronomeVolume / 100.0));
    metronome_.begin();
    startLightsAndStems(plan);
    const std::uint64_t startHost = plan.startHost;
    const std::uint64_t songStartHost = plan.songStartHost;
    // Moved, not copied: a tempo map's clicks may be half a million.
    performance_ = std::make_shared<PlaySongLogic>(std::move(plan), song_.countOffVolume);
    performance_->start(playback_);
    playAnswer_ = std::move(answer);
    at(startHost, [this] {
        enter(State::countingOff);
        if (auto answer = std::exchange(playAnswer_, {})) answer({{"message", "SUCCESS"}, {"code", 0}});
    });
    // Keys count from timeGetNoteEarly before the song's start.
    const std::uint64_t early = nanosFromMillis(session.timeGetNoteEarly);
    at(std::max(startHost, songStartHost - std::min(songStartHost, early)), [this] { enter(State::playing); });
}

// The lights and the stems start with the song, after the count-off, each given its time once.
void PlayLifecycle::startLightsAndStems(const PlayPlan& plan) {
    auto& song = song_;
    lights_.startAtHostTime(plan.songStartHost);
    if (song.isAudio) {
        tracks_.start(plan.songStartHost, song.playStartTime / 1000, song.playEndTime / 1000,
                      static_cast<float>(song.volume / 100.0));
    }
}

void PlayLifecycle::stop(BaseFlow::Answer answer) {
    if (closed_) return;
    endPlay();
    session_.APP_STATE = KeyvoraFlow::kIdle;
    enter(State::idle);
    logText(kLogDebug, "Stop playing piano...");
    answer({{"eventList", playedKeys(session_)}, {"message", "SUCCESS"}, {"code", 0}});
}

void PlayLifecycle::whenSongPlays(std::chrono::milliseconds bound, std::function<void()> then) {
    if (closed_) return;
    if (session_.APP_STATE == KeyvoraFlow::kSongPlaying) return then();
    auto timer = std::make_unique<boost::asio::steady_timer>(main_, bound);
    timer->async_wait([this, alive = alive_, raw = timer.get()](const boost::system::error_code& error) {
        if (error || !*alive) return;
        const auto found = std::find_if(waiters_.begin(), waiters_.end(), [raw](const Waiter& w) { return w.timer.get() == raw; });
        if (found == waiters_.end()) return;
        auto then = std::move(found->then);
        waiters_.erase(found);
        then();
    });
    waiters_.push_back({std::move(timer), std::move(then)});
}

void PlayLifecycle::wakeWaiters() {
    auto waiting = std::exchange(waiters_, {});
    for (auto& waiter : waiting) {
        waiter.timer->cancel();
        waiter.then();
    }
}

void PlayLifecycle::endForMode() {
    if (!playOn()) return;
    endPlay();
    enter(State::idle);
}

void PlayLifecycle::shutdown() {
    closed_ = true;
    playAnswer_ = {};
    endPlay();
    for (auto& waiter : waiters_) waiter.timer->cancel();
    waiters_.clear();
}

void PlayLifecycle::at(std::uint64_t hostTime, std::function<void()> work) {
    // steady_clock reads CLOCK_MONOTONIC, the host clock, so a host time is a timer deadline.
    auto timer = std::make_unique<boost::asio::steady_timer>(
        main_, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(hostTime)));
    // A timer that fired just before a stop cancelled it still runs its handler: the generation
    // tells it the play it belongs to has ended.
    timer->async_wait([this, alive = alive_, generation = generation_, work = std::move(work)](const boost::system::error_code& error) {
        if (!error && *alive && generation == generation_) work();
    });
    timers_.push_back(std::move(timer));
}

}  // namespace kv

#include "playback/PlaySongLogic.h"

#include "base/Console.h"
#include "base/DateText.h"
#include "base/Instant.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "base/TextFormat.h"
#include "core/KeyvoraFlow.h"
#include "leds/KVLedScheduler.h"
#include "platform/audio/HostClock.h"
#include "playback/CountOff.h"
#include "playback/Metronome.h"
#include "playback/MetronomePlan.h"
#include "playback/PlaybackQueue.h"
#include "playback/SongChase.h"
#include "playback/SongObject.h"
#include "stems/StemsPlayer.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>

namespace kv {

namespace {

constexpr const char* kBadStart = "Start time format is wrong.";
constexpr const char* kFarStart = "Start time is too far in the future.";
// A count-off the request sums to more than this is no count-off.
constexpr double kMaxCountOffMs = 10 * 60 * 1000;

std::atomic<std::int32_t> epoch{0};
std::mutex wakeMutex;
std::condition_variable wakeUp;
std::uint64_t wakeUps = 0;  // under wakeMutex

std::uint64_t nanosFromMillis(double milliseconds) {
    return static_cast<std::uint64_t>(std::max(0.0, milliseconds) * 1e6);
}

std::string utcText(Date date) {
    const auto millis = currentTimeMillis(date);
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return formatText("%s.%03u +0000", std::string(text, length).c_str(), static_cast<unsigned>(millis % 1000));
}

}  // namespace

std::mutex& PlaySongLogic::transitionGate() {
    static std::mutex gate;
    return gate;
}

std::int32_t PlaySongLogic::currentEpoch() {
    return epoch.load();
}

std::int32_t PlaySongLogic::nextEpoch() {
    const std::int32_t next = epoch.fetch_add(1) + 1;
    wakePlays();
    return next;
}

void PlaySongLogic::cancelPlayback() {
    epoch.fetch_add(1);
    wakePlays();
    KVLedScheduler::shared().stop();
}

void PlaySongLogic::wakePlays() {
    {
        const std::lock_guard lock(wakeMutex);
        ++wakeUps;
    }
    wakeUp.notify_all();
}

float PlaySongLogic::timeGetNoteEarlyFor(std::int32_t tempo) {
    if (tempo == 0) return 0;
    return static_cast<float>(std::min<std::int32_t>(16000 / tempo, 200));
}

PlaySongLogic::MetronomeMeter PlaySongLogic::metronomeMeter(std::int32_t beat, std::int32_t beatType, std::int32_t startBeat) {
    std::int64_t beatsPerMeasure = isCompoundWithBeat(beat, beatType) ? beat / 3 : beat;
    if (beatsPerMeasure < 2) beatsPerMeasure = 1;
    const std::int64_t start = static_cast<std::int64_t>(startBeat) - 1;
    return {beatsPerMeasure, (beatsPerMeasure + start % beatsPerMeasure) % beatsPerMeasure};
}

bool PlaySongLogic::waitUntil(std::uint64_t hostTime, const std::function<bool()>& over) const {
    std::unique_lock lock(wakeMutex);
    while (true) {
        if (over()) return false;
        const std::uint64_t now = host_clock::now();
        if (now >= hostTime) return true;
        const std::uint64_t seen = wakeUps;
        wakeUp.wait_for(lock, std::chrono::nanoseconds(hostTime - now), [seen] { return wakeUps != seen; });
    }
}

std::uint64_t PlaySongLogic::hostTimeOf(double songMilliseconds) const {
    return songStartHost_ + nanosFromMillis(songMilliseconds);
}

nlohmann::json PlaySongLogic::execute() {
    myEpoch_ = nextEpoch();
    if (!jsonRequest_.data || !jsonRequest_.data->is_object()) {
        return {{"message", "ERROR OCCURED WHEN PROCESSING"}, {"code", -1}};
    }
    const nlohmann::json& data = *jsonRequest_.data;
    const std::string rawStart = json_reading::readString(data, "startTime").value_or("");
    const auto start = toDate(rawStart);
    if (!start) {
        logText(kLogError, kBadStart);
        return {{"message", kBadStart}, {"code", -1}};
    }
    const Instant startInstant = Instant::atWallClock(*start);
    const double wait = std::chrono::duration<double>(*start - std::chrono::system_clock::now()).count();
    if (wait > kMaxStartWaitSeconds) {
        consoleLine(formatText("[COUNTOFF][execute] WARN: sleepTimeStart=%.1fs > 60s → nghi playStartDate sai → count-off không tới đúng giờ", wait));
        logText(kLogError, kFarStart);
        return {{"message", kFarStart}, {"code", -1}};
    }
    auto& song = SongObject::shared();
    auto& session = KeyvoraFlow::shared();
    song.playStartDate.set(*start);
    song.volume = json_reading::readInt32(data, "accompanimentVolume").value_or(0);
    song.metronomeVolume = json_reading::readInt32(data, "metronomeVolume").value_or(0);
    song.instrumentVolume = json_reading::readInt32(data, "instrumentVolume").value_or(0);
    if (const auto volume = json_reading::readInt32(data, "countOffVolume")) song.countOffVolume = *volume;
    const nlohmann::json answer = {{"message", "MIDI IS PLAYING"}, {"code", 0}};
    session.APP_STATE = KeyvoraFlow::kCountOff;
    session.isStopMusic = false;
    session.isStopPrepare = false;

    const double countOff = std::clamp(song.totalCountOffTime.load(), 0.0, kMaxCountOffMs);
    startHost_ = startInstant.host;
    songStartHost_ = startHost_ + nanosFromMillis(countOff);
    session.baseTime.set(Instant{*start + std::chrono::microseconds(static_cast<std::int64_t>(countOff * 1000)), songStartHost_});
    consoleLine(formatText("[COUNTOFF][execute] epoch=%d sleepTimeStart=%.3fs playStartDate=%s rawStartStr=%s countOffCount=%lu totalCountOffTime=%.0fms",
                           myEpoch_, std::max(0.0, wait), utcText(*start).c_str(), rawStart.c_str(),
                           static_cast<unsigned long>(song.playCountOffList.get().size()), countOff));
    // Everything is placed on the timeline a little before the count-off begins, so that its first
    // sound, the lights and the clicks are on time.
    const auto isSuperseded = [this] { return superseded(); };
    if (!waitUntil(startHost_ - std::min(startHost_, kAheadNs), isSuperseded)) {
        consoleLine(formatText("[COUNTOFF][execute] BAIL: superseded sau sleep (my=%d cur=%d) → count-off không chạy", myEpoch_,
                               currentEpoch()));
        return answer;
    }
    song.isPlayCountOff = true;
    isPlayMode_ = false;
    KVLedScheduler::shared().startAtHostTime(songStartHost_);
    consoleLine(formatText("[COUNTOFF][execute] DISPATCH playCountOff (epoch=%d isAudio=%d)", myEpoch_, song.isAudio ? 1 : 0));
    isAudio_ = song.isAudio;
    PlaybackQueue::shared().async([self = shared_from_this()] { self->run(); });
    if (isAudio_) startStems();
    startMetronome();
    session.timeGetNoteEarly = timeGetNoteEarlyFor(song.playTempo);
    waitUntil(startHost_, isSuperseded);
    return answer;
}

// The count-off, then the song: one task, so that the song starts where the count-off ends.
void PlaySongLogic::run() {
    playCountOff();
    if (isAudio_) return;
    auto& song = SongObject::shared();
    consoleLine(formatText("[COUNTOFF][execute] count-off xong/huỷ → playSong (epoch my=%d cur=%d isPlayCountOff=%d)", myEpoch_,
                           currentEpoch(), song.isPlayCountOff ? 1 : 0));
    playSong();
}

// The stems start on the song's first sample after the count-off, on the same timeline.
void PlaySongLogic::startStems() const {
    auto& song = SongObject::shared();
    auto& player = StemsPlayer::shared();
    player.setOnPlaybackFinished([](bool stoppedByCaller) {
        consoleLine(stoppedByCaller ? "[StemsPlayer] User stopped playback" : "[StemsPlayer] Song finished naturally");
        SongObject::shared().stopPlaySong();
    });
    song.isStopPlaySong = false;
    player.playAtHostTime(songStartHost_, song.playStartTime / 1000, song.playEndTime / 1000);
    player.setMasterVolume(static_cast<float>(song.volume / 100.0));
}

void PlaySongLogic::startMetronome() const {
    auto& song = SongObject::shared();
    auto& metronome = Metronome::shared();
    metronome.setVolume(static_cast<float>(song.metronomeVolume / 100.0));
    MetronomeSong plan{song.tempoMap.get(), song.isTempoMapEnable, song.timeSignatureMap.get(), song.playBeat,
                       song.playBeatType, song.playTempo, song.playStartTime, song.playEndTime};
    auto beats = buildMetronomeBeatOffsetsRealSeconds(plan);
    const MetronomeMeter meter = metronomeMeter(song.playBeat, song.playBeatType, song.playStartBeat);
    metronome.setMetronomeMeterBeatsPerMeasure(meter.beatsPerMeasure, meter.startBeatOffset);
    consoleLine(formatText("[ACCENT] mv.count=%lu mo.count=%lu", static_cast<unsigned long>(beats ? beats->volumes.size() : 0),
                           static_cast<unsigned long>(beats ? beats->offsets.size() : 0)));
    metronome.setTempoMapBeatVolumes(beats ? std::move(beats->volumes) : std::vector<double>{});
    metronome.setTempoMapBeatOffsets(beats ? std::move(beats->offsets) : std::vector<double>{});
    metronome.startWithInterval(song.playTickSpacing / 1000, songStartHost_);
}

// Each sound is placed on the audio clock at the start date plus the spacings before it, and
// cut where the next one begins. A stop or a newer play ends the loop at its next wake-up; a stop
// drops what was handed to the engine, a newer play what is not yet due.
void PlaySongLogic::playCountOff() {
    auto& song = SongObject::shared();
    auto& session = KeyvoraFlow::shared();
    double spacing = song.playTickSpacing / 1000;
    const auto sounds = song.playCountOffList.get();
    const auto times = song.listCountOffTime.get();
    consoleLine(formatText("[COUNTOFF][playCountOff] ENTRY count=%lu epoch(my=%d cur=%d) state=%ld waitingStop=%d tickSpacing=%.3fs",
                           static_cast<unsigned long>(sounds.size()), myEpoch_, currentEpoch(),
                           static_cast<long>(session.APP_STATE.load()), song.isWaitingStopPlaySong ? 1 : 0, spacing));
    if (sounds.empty()) consoleLine("[COUNTOFF][playCountOff] BAIL: playCountOffList RỖNG → không có tick để phát");
    const auto stopping = [this, &session, &song] {
        return superseded() || session.APP_STATE != KeyvoraFlow::kCountOff || song.isWaitingStopPlaySong;
    };
    double at = 0;  // seconds from the start date
    std::uint64_t previousHost = 0;
    std::size_t handedOver = sounds.size();  // the last sound handed to the engine
    const auto dropUndue = [&] {
        if (handedOver < sounds.size() && host_clock::now() < previousHost) sounds[handedOver]->stop();
    };
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        if (i < times.size()) spacing = times[i] / 1000;
        const std::uint64_t tickHost = startHost_ + nanosFromMillis(at * 1000);
        // Each sound is handed to the engine once the one before is due, the first at once: a
        // thread woken late on a loaded machine must not make a sound late.
        waitUntil(std::min(previousHost, tickHost - std::min(tickHost, kAheadNs)), stopping);
        if (superseded()) {
            consoleLine(formatText("[COUNTOFF][playCountOff] BAIL@i=%d/%lu: superseded (my=%d cur=%d)", static_cast<int>(i),
                                   static_cast<unsigned long>(sounds.size()), myEpoch_, currentEpoch()));
            dropUndue();
            return;
        }
        if (stopping()) {
            consoleLine(formatText("[COUNTOFF][playCountOff] BAIL@i=%d/%lu: state=%ld (cần COUNTOFF) waitingStop=%d → stopMusic",
                                   static_cast<int>(i), static_cast<unsigned long>(sounds.size()),
                                   static_cast<long>(session.APP_STATE.load()), song.isWaitingStopPlaySong ? 1 : 0));
            song.isPlayCountOff = false;
            stopMusic();
            return;
        }
        if (const auto& sound = sounds[i]) {
            sound->setVolume(static_cast<float>(song.countOffVolume / 100.0 * 0.4));
            // A start already past plays only the sounds still to come.
            if (tickHost + kAheadNs >= host_clock::now()) {
                sound->playAt(tickHost, spacing);
                handedOver = i;
            }
        }
        previousHost = tickHost;
        if (i + 1 == sounds.size()) isPlayMode_ = true;
        at += std::max(0.0, spacing);
    }
    // Keys count from timeGetNoteEarly before the song's start (openGetNotes).
    const std::uint64_t openAt = songStartHost_ - std::min(songStartHost_, nanosFromMillis(session.timeGetNoteEarly));
    const std::uint64_t doneAt = songStartHost_ - std::min(songStartHost_, kAheadNs);
    if (openAt < doneAt && waitUntil(openAt, [this] { return superseded(); })) openGetNotes();
    if (!waitUntil(doneAt, [this] { return superseded(); })) {
        dropUndue();
        return;
    }
    consoleLine(formatText("[COUNTOFF][playCountOff] DONE: phát hết %lu tick", static_cast<unsigned long>(sounds.size())));
    song.isPlayCountOff = false;
}

void PlaySongLogic::openGetNotes() {
    if (isPlayMode_) KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kSongPlaying;
}

void PlaySongLogic::playSong() {
    auto& session = KeyvoraFlow::shared();
    auto& song = SongObject::shared();
    try {
        if (session.isStopMusic) {
            logText(kLogDebug, "Music was stop");
            song.stopPlaySong();
            return;
        }
        session.APP_STATE = KeyvoraFlow::kSongPlaying;
        song.latency = 0;
        if (session.isStopPrepare) return;
        const auto groups = song.midiData.get();
        const std::int32_t first = song.playStartIndex;
        const std::int32_t last = song.playEndIndex;
        if (first < 0 || static_cast<std::size_t>(first) >= groups->size()) return;
        song.isStopPlaySong = false;
        if (first <= last) playGroups(*groups, first, last);
        if (!superseded()) song.stopPlaySong();
    } catch (const std::exception& error) {
        logText(kLogError, std::string("playSong have error. Details: ") + error.what());
    }
}

// Each group is handed to the synthesizer ahead of its time, timed to the frame. The stop that
// ends a range falls on the time of the group after it; after the song's last group it follows
// once that group has sounded.
void PlaySongLogic::playGroups(const std::vector<MidiPlayList>& groups, std::int32_t first, std::int32_t last) {
    auto& session = KeyvoraFlow::shared();
    auto& song = SongObject::shared();
    const auto stopping = [this, &session, &song] {
        return superseded() || session.APP_STATE != KeyvoraFlow::kSongPlaying || song.isWaitingStopPlaySong;
    };
    chase(groups, first);
    const double t0 = groups[static_cast<std::size_t>(first)].startTime;
    for (auto i = static_cast<std::size_t>(first); i < groups.size(); ++i) {
        if (superseded()) return;
        if (stopping()) {
            logText(kLogDebug, "Music was stop");
            return;
        }
        const std::uint64_t at = hostTimeOf(groups[i].startTime - t0);
        if (!waitUntil(at - std::min(at, kAheadNs), stopping)) {
            if (!superseded()) logText(kLogDebug, "Music was stop");
            return;
        }
        emit(groups[i], at);
        if (static_cast<std::int64_t>(i) >= last) {
            const std::uint64_t end = i + 1 < groups.size() ? hostTimeOf(groups[i + 1].startTime - t0) : at + kAheadNs;
            waitUntil(end, stopping);
            return;
        }
    }
}

void PlaySongLogic::emit(const MidiPlayList& group, std::uint64_t hostTime) const {
    if (superseded()) return;
    const auto synthesizers = SongObject::shared().audioGraphCollection.get();
    for (const MidiMessage& message : group.listNotes) {
        const auto synthesizer = synthesizers.find(message.chanel);
        if (synthesizer == synthesizers.end() || !synthesizer->second) continue;
        synthesizer->second->sendMessageMidiSongWithMessage(message.array, hostTime);
    }
}

// Control and program changes travel with channel 0's messages, as the song's own do.
void PlaySongLogic::chase(const std::vector<MidiPlayList>& groups, std::int32_t first) const {
    const auto messages = chaseBefore(groups, first);
    if (messages.empty()) return;
    const auto synthesizers = SongObject::shared().audioGraphCollection.get();
    const auto route = synthesizers.find(0);
    if (route == synthesizers.end() || !route->second) return;
    for (const auto& message : messages) route->second->sendMessageMidiSongWithMessage(message);
}

}  // namespace kv

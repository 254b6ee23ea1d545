#include "playback/PlaySongLogic.h"

#include "base/HostClock.h"
#include "base/Numbers.h"
#include "playback/CountOff.h"
#include "playback/SongChase.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

bool isNote(const MidiMessage& message) {
    const int command = message.array.empty() ? 0 : message.array[0] & 0xF0;
    return command == 0x80 || command == 0x90;
}

}  // namespace

float PlaySongLogic::timeGetNoteEarlyFor(std::int32_t tempo) {
    if (tempo <= 0) return 0;
    return static_cast<float>(std::min<std::int32_t>(16000 / tempo, 200));
}

PlaySongLogic::MetronomeMeter PlaySongLogic::metronomeMeter(std::int32_t beat, std::int32_t beatType, std::int32_t startBeat) {
    std::int64_t beatsPerMeasure = isCompoundWithBeat(beat, beatType) ? beat / 3 : beat;
    if (beatsPerMeasure < 2) beatsPerMeasure = 1;
    const std::int64_t start = static_cast<std::int64_t>(startBeat) - 1;
    return {beatsPerMeasure, (beatsPerMeasure + start % beatsPerMeasure) % beatsPerMeasure};
}

PlaySongLogic::PlaySongLogic(PlayPlan plan) : plan_(std::move(plan)) {}

void PlaySongLogic::start(SerialQueue& playback) {
    playback.async([self = shared_from_this()] { self->run(); });
}

void PlaySongLogic::stop() {
    {
        const std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
    }
    wake_.notify_all();
    for (const auto& tick : plan_.countOff.ticks) {
        if (tick.sound) tick.sound->stop();
    }
}

template <class Hand>
bool PlaySongLogic::handOver(Hand hand) {
    const std::lock_guard lock(mutex_);
    if (stopped_) return false;
    hand();
    return true;
}

bool PlaySongLogic::waitUntil(std::uint64_t hostTime) {
    std::unique_lock lock(mutex_);
    while (!stopped_) {
        const std::uint64_t now = host_clock::now();
        if (now >= hostTime) return true;
        wake_.wait_for(lock, std::chrono::nanoseconds(hostTime - now));
    }
    return false;
}

// The count-off, then the song: one task, so that the song starts where the count-off ends.
void PlaySongLogic::run() {
    playCountOff();
    if (plan_.groups) playSong();
}

// Each sound is handed to the engine once the one before is due, the first at once: a thread woken
// late on a loaded machine must not make a sound late. A start already past plays only the sounds
// still to come; each is cut where the next one begins.
void PlaySongLogic::playCountOff() {
    std::uint64_t previousHost = 0;
    for (const auto& tick : plan_.countOff.ticks) {
        const std::uint64_t at = plan_.startHost + nanosFromMillis(tick.atMs);
        if (!waitUntil(std::min(previousHost, at - std::min(at, kAheadNs)))) return;
        previousHost = at;
        if (!tick.sound || at + kAheadNs < host_clock::now()) continue;
        const bool handed = handOver([&] {
            tick.sound->setVolume(static_cast<float>(SongObject::shared().countOffVolume / 100.0 * 0.4));
            tick.sound->playAt(at, tick.spacingMs / 1000);
        });
        if (!handed) return;
    }
}

std::uint64_t PlaySongLogic::hostTimeOfGroup(std::size_t index) const {
    const auto& groups = *plan_.groups;
    return plan_.songStartHost + nanosFromMillis(groups[index].startTime - groups[static_cast<std::size_t>(plan_.first)].startTime);
}

// Each group is handed to the synthesizer ahead of its time, timed to the frame; of a group
// already past, on a start in the past, only what is not a note. The stop that ends a range falls
// on the time of the group after it; after the song's last group it follows once that group has
// sounded.
void PlaySongLogic::playSong() {
    const auto& groups = *plan_.groups;
    if (plan_.first < 0 || static_cast<std::size_t>(plan_.first) >= groups.size()) return;
    if (!waitUntil(plan_.songStartHost - std::min(plan_.songStartHost, kAheadNs)) || !handOver([this] { chase(); })) return;
    std::uint64_t end = plan_.songStartHost;
    for (auto i = static_cast<std::size_t>(plan_.first); plan_.first <= plan_.last && i < groups.size(); ++i) {
        const std::uint64_t at = hostTimeOfGroup(i);
        if (!waitUntil(at - std::min(at, kAheadNs))) return;
        const bool past = at + kAheadNs < host_clock::now();
        const bool handed = handOver([&] {
            for (const MidiMessage& message : groups[i].listNotes) {
                const auto synthesizer = plan_.synthesizers.find(message.chanel);
                if (synthesizer == plan_.synthesizers.end() || !synthesizer->second || (past && isNote(message))) continue;
                synthesizer->second->sendMessageMidiSongWithMessage(message.array, at);
            }
        });
        if (!handed) return;
        end = i + 1 < groups.size() ? hostTimeOfGroup(i + 1) : at + kAheadNs;
        if (static_cast<std::int64_t>(i) >= plan_.last) break;
    }
    if (!waitUntil(end)) return;
    handOver([this] {
        for (const auto& [channel, synthesizer] : plan_.synthesizers) {
            if (synthesizer) synthesizer->STOP();
        }
    });
}

// Each control and program change goes to its own channel's synthesizer, as the song's do.
void PlaySongLogic::chase() const {
    for (const auto& message : chaseBefore(*plan_.groups, plan_.first)) {
        const auto route = plan_.synthesizers.find(message.front() & 0x0F);
        if (route != plan_.synthesizers.end() && route->second) route->second->sendMessageMidiSongWithMessage(message);
    }
}

}  // namespace kv

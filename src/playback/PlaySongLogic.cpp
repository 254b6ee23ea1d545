#include "playback/PlaySongLogic.h"

#include "base/HostClock.h"
#include "base/Numbers.h"
#include "playback/CountOff.h"
#include "playback/SongChase.h"

#include <boost/asio/post.hpp>

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

PlaySongLogic::PlaySongLogic(PlayPlan plan, const std::atomic<std::int32_t>& countOffVolume)
    : plan_(std::move(plan)), countOffVolume_(countOffVolume) {
    if (plan_.countOff.ticks.empty()) afterCountOff();
}

void PlaySongLogic::start(SerialQueue& playback) {
    timer_ = std::make_unique<boost::asio::steady_timer>(playback.executor());
    playback.async([self = shared_from_this()] { self->advance(); });
}

void PlaySongLogic::stop() {
    {
        const std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
    }
    // The wait is the queue's: cancelled there, so the performance lets go of itself at once.
    if (timer_) boost::asio::post(timer_->get_executor(), [self = shared_from_this()] { self->timer_->cancel(); });
    for (const auto& tick : plan_.countOff.ticks) {
        if (tick.sound) tick.sound->stop();
    }
}

bool PlaySongLogic::stopped() {
    const std::lock_guard lock(mutex_);
    return stopped_;
}

template <class Hand>
bool PlaySongLogic::handOver(Hand hand) {
    const std::lock_guard lock(mutex_);
    if (stopped_) return false;
    hand();
    return true;
}

// A wait that completed before stop() cancelled it still lands here: it must not wait again, or
// the stopped performance would hold its plan's synthesizers until then.
void PlaySongLogic::advance() {
    while (!stopped()) {
        const auto song = nextDue();
        const auto click = nextClickDue();
        if (!song && !click) return;
        const bool clickNext = click && (!song || *click < *song);
        const std::uint64_t due = clickNext ? *click : *song;
        const std::uint64_t now = host_clock::now();
        if (now < due) {
            timer_->expires_after(std::chrono::nanoseconds(due - now));
            timer_->async_wait([self = shared_from_this()](const boost::system::error_code& error) {
                if (!error) self->advance();
            });
            return;
        }
        if (!(clickNext ? handClick() : handNext())) return;
    }
}

std::uint64_t PlaySongLogic::tickHost(std::size_t index) const {
    return plan_.startHost + nanosFromMillis(plan_.countOff.ticks[index].atMs);
}

std::uint64_t PlaySongLogic::clickHost(std::uint64_t tick) const {
    return plan_.songStartHost + nanosFromMillis(plan_.clicks.secondsOf(tick) * 1000);
}

std::uint64_t PlaySongLogic::hostTimeOfGroup(std::size_t index) const {
    const auto& groups = *plan_.groups;
    return plan_.songStartHost + nanosFromMillis(groups[index].startTime - groups[static_cast<std::size_t>(plan_.first)].startTime);
}

// Each count-off sound is handed to the engine once the one before is due, the first at once: a
// thread woken late on a loaded machine must not make a sound late. Each group is handed to the
// synthesizer ahead of its time; the stop that ends a range falls on the time of the group after
// it, and after the song's last group once that group has sounded.
std::optional<std::uint64_t> PlaySongLogic::nextDue() const {
    const auto ahead = [](std::uint64_t at) { return at - std::min(at, kAheadNs); };
    switch (step_) {
        case Step::countOff:
            return std::min(previousTick_, ahead(tickHost(index_)));
        case Step::chase:
            return ahead(plan_.songStartHost);
        case Step::song:
            return ahead(hostTimeOfGroup(index_));
        case Step::end:
            return end_;
        case Step::done:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> PlaySongLogic::nextClickDue() const {
    if (!plan_.clickSound) return std::nullopt;
    const std::uint64_t at = clickHost(nextClick_);
    return at - std::min(at, kAheadNs);
}

// A click already past is skipped, never sounded late: the ones after stay on the song's grid.
bool PlaySongLogic::handClick() {
    const std::uint64_t tick = nextClick_++;
    const std::uint64_t at = clickHost(tick);
    return at < host_clock::now() || handOver([&] { plan_.clickSound->click(plan_.clicks.accented(tick), at); });
}

bool PlaySongLogic::handNext() {
    switch (step_) {
        case Step::countOff: {
            const std::uint64_t at = tickHost(index_);
            previousTick_ = at;
            const auto& tick = plan_.countOff.ticks[index_];
            // A start already past plays only the sounds still to come; each is cut where the next
            // one begins.
            const bool handed = !tick.sound || at + kAheadNs < host_clock::now() || handOver([&] {
                tick.sound->setVolume(static_cast<float>(countOffVolume_ / 100.0 * 0.4));
                tick.sound->playAt(at, tick.spacingMs / 1000);
            });
            if (!handed) return false;
            if (++index_ == plan_.countOff.ticks.size()) afterCountOff();
            return true;
        }
        case Step::chase:
            if (!handOver([this] { chase(); })) return false;
            index_ = static_cast<std::size_t>(plan_.first);
            end_ = plan_.songStartHost;
            step_ = plan_.first <= plan_.last ? Step::song : Step::end;
            return true;
        case Step::song:
            return playGroup();
        case Step::end:
            step_ = Step::done;
            return handOver([this] {
                for (const auto& [channel, synthesizer] : plan_.synthesizers) {
                    if (synthesizer) synthesizer->STOP();
                }
            });
        case Step::done:
            return false;
    }
    return false;
}

void PlaySongLogic::afterCountOff() {
    const bool song = plan_.groups && plan_.first >= 0 && static_cast<std::size_t>(plan_.first) < plan_.groups->size();
    step_ = song ? Step::chase : Step::done;
}

// Of a group already past, on a start in the past, only what is not a note is handed over.
bool PlaySongLogic::playGroup() {
    const auto& groups = *plan_.groups;
    const std::uint64_t at = hostTimeOfGroup(index_);
    const bool past = at + kAheadNs < host_clock::now();
    const bool handed = handOver([&] {
        for (const MidiMessage& message : groups[index_].listNotes) {
            const auto synthesizer = plan_.synthesizers.find(message.chanel);
            if (synthesizer == plan_.synthesizers.end() || !synthesizer->second || (past && isNote(message))) continue;
            synthesizer->second->sendMessageMidiSongWithMessage(message.array, at);
        }
    });
    if (!handed) return false;
    end_ = index_ + 1 < groups.size() ? hostTimeOfGroup(index_ + 1) : at + kAheadNs;
    if (static_cast<std::int64_t>(index_) >= plan_.last || index_ + 1 >= groups.size()) {
        step_ = Step::end;
    } else {
        ++index_;
    }
    return true;
}

// Each control and program change goes to its own channel's synthesizer, as the song's do.
void PlaySongLogic::chase() const {
    for (const auto& message : chaseBefore(*plan_.groups, plan_.first)) {
        const auto route = plan_.synthesizers.find(message.front() & 0x0F);
        if (route != plan_.synthesizers.end() && route->second) route->second->sendMessageMidiSongWithMessage(message);
    }
}

}  // namespace kv

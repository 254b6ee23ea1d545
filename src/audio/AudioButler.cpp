#include "audio/AudioButler.h"

#include "platform/dispatch/ThreadPriority.h"

namespace kv {

AudioButler::AudioButler(std::function<void()> chores) : chores_(std::move(chores)), thread_([this] { run(); }) {}

AudioButler::~AudioButler() {
    stopping_ = true;
    wake_.release();
    thread_.join();
}

bool AudioButler::post(PlayerCompletion&& completion) {
    return completions_.push(std::move(completion));
}

void AudioButler::summon() {
    if (!summoned_.exchange(true, std::memory_order_acq_rel)) wake_.release();
}

std::uint64_t AudioButler::addChore(std::function<void()> chore) {
    const std::lock_guard lock(addedMutex_);
    added_.emplace(++lastId_, std::move(chore));
    return lastId_;
}

void AudioButler::removeChore(std::uint64_t id) {
    const std::lock_guard lock(addedMutex_);
    added_.erase(id);
}

void AudioButler::runAdded() {
    const std::lock_guard lock(addedMutex_);
    for (const auto& [id, chore] : added_) chore();
}

// Raised like the audio thread's neighbours: a ring it tops up must not run dry behind other work.
void AudioButler::run() {
    nameCurrentThread("AudioButler");
    raiseCurrentThreadPriority();
    while (!stopping_) {
        wake_.acquire();
        summoned_.exchange(false, std::memory_order_acq_rel);  // sees what came before a summons it answers
        while (auto completion = completions_.pop()) {
            if (completion->handler) completion->handler(completion->played, completion->startedAt);
        }
        chores_();
        runAdded();
    }
}

}  // namespace kv

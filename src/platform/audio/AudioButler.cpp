#include "platform/audio/AudioButler.h"

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

void AudioButler::run() {
    nameCurrentThread("AudioButler");
    while (!stopping_) {
        wake_.acquire();
        summoned_.exchange(false, std::memory_order_acq_rel);  // sees what came before a summons it answers
        while (auto completion = completions_.pop()) {
            if (completion->handler) completion->handler(completion->played, completion->startedAt);
        }
        chores_();
    }
}

}  // namespace kv

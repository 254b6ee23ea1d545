#pragma once

#include "platform/audio/SpscQueue.h"

#include <cstddef>
#include <mutex>
#include <optional>

namespace kv {

// Commands for the audio thread from any number of threads: the producers take a mutex among
// themselves, the audio thread pops without locking.
template <class T, std::size_t Capacity>
class RealtimeQueue {
public:
    bool push(T item) {
        std::lock_guard lock(producers_);
        return queue_.push(std::move(item));
    }

    std::optional<T> pop() { return queue_.pop(); }

private:
    SpscQueue<T, Capacity> queue_;
    std::mutex producers_;
};

}  // namespace kv

#pragma once

#include <boost/lockfree/spsc_queue.hpp>

#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>

namespace kv {

// Commands for the audio thread from any number of threads: the producers take a mutex among
// themselves, the audio thread pops without locking and moves each item out of its slot (so the
// slot keeps nothing the audio thread would have to free).
template <class T, std::size_t Capacity>
class RealtimeQueue {
public:
    bool push(const T& item) {
        const std::lock_guard lock(producers_);
        return queue_.push(item);
    }

    std::optional<T> pop() {
        std::optional<T> item;
        queue_.consume_one([&item](T& slot) { item.emplace(std::move(slot)); });
        return item;
    }

private:
    boost::lockfree::spsc_queue<T, boost::lockfree::capacity<Capacity>> queue_;
    std::mutex producers_;
};

}  // namespace kv

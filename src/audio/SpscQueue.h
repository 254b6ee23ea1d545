#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>
#include <utility>

namespace kv {

// A bounded single-producer single-consumer queue: neither side locks or allocates; items are
// moved into fixed slots and out again.
template <class T, std::size_t Capacity>
class SpscQueue {
public:
    // False when full: the item is not taken.
    bool push(T&& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t next = (tail + 1) % Capacity;
        if (next == head_.load(std::memory_order_acquire)) return false;
        slots_[tail] = std::move(item);
        tail_.store(next, std::memory_order_release);
        return true;
    }

    std::optional<T> pop() {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return std::nullopt;
        std::optional<T> item(std::move(slots_[head]));
        slots_[head] = T{};
        head_.store((head + 1) % Capacity, std::memory_order_release);
        return item;
    }

private:
    std::array<T, Capacity> slots_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

}  // namespace kv

#pragma once

#include <atomic>
#include <cstddef>

namespace kv {

// The bytes that all connections together may hold unsent: peers that never read cannot make
// the service grow without end, however many of them connect.
class OutgoingBudget {
public:
    explicit OutgoingBudget(std::size_t totalBytes) : total_(totalBytes) {}

    // False, and nothing taken, when the bytes would pass the total.
    bool take(std::size_t bytes) {
        std::size_t used = used_.load(std::memory_order_relaxed);
        do {
            if (bytes > total_ - used) return false;
        } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
        return true;
    }
    void give(std::size_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }
    std::size_t used() const { return used_.load(std::memory_order_relaxed); }

private:
    const std::size_t total_;
    std::atomic<std::size_t> used_{0};
};

}  // namespace kv

#pragma once

#include <mutex>
#include <utility>

namespace kv {

// A value shared between threads, read and written whole under its own small lock.
template <class T>
class Synchronized {
public:
    Synchronized() = default;
    explicit Synchronized(T value) : value_(std::move(value)) {}

    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    // Reads under the lock without copying the value: for threads that must not allocate.
    template <class Reader>
    auto read(Reader reader) const {
        std::lock_guard lock(mutex_);
        return reader(static_cast<const T&>(value_));
    }

    void set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace kv

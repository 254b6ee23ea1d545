#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace kv {

// Tells its observers that something happened. Subscribing, unsubscribing and posting all
// happen on the main thread.
class Notification {
public:
    using Observers = std::map<std::uint64_t, std::function<void()>>;

    // Ends the subscription when destroyed.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(std::weak_ptr<Observers> observers, std::uint64_t id)
            : observers_(std::move(observers)), id_(id) {}
        ~Subscription() { reset(); }
        Subscription(Subscription&& other) noexcept
            : observers_(std::move(other.observers_)), id_(other.id_) {}
        Subscription& operator=(Subscription&& other) noexcept {
            reset();
            observers_ = std::move(other.observers_);
            id_ = other.id_;
            return *this;
        }

    private:
        void reset() {
            if (auto observers = observers_.lock()) observers->erase(id_);
            observers_.reset();
        }

        std::weak_ptr<Observers> observers_;
        std::uint64_t id_ = 0;
    };

    [[nodiscard]] Subscription subscribe(std::function<void()> observer) {
        const std::uint64_t id = ++lastId_;
        (*observers_)[id] = std::move(observer);
        return Subscription(observers_, id);
    }

    void post() const {
        const Observers observers = *observers_;  // an observer may unsubscribe while called
        for (const auto& [id, observer] : observers) observer();
    }

private:
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    std::uint64_t lastId_ = 0;
};

}  // namespace kv

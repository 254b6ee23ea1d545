#pragma once

#include <cassert>
#include <utility>

namespace kv {

// The one instance of T that flows and threads reach through T::shared() (the service's session
// state, song record, device manager …). Its owner, the service or a test, makes it so for as long
// as it lives; reaching for it before or after is a bug.
template <class T>
class Shared {
public:
    explicit Shared(T& instance) : previous_(std::exchange(current(), &instance)) {}
    ~Shared() { current() = previous_; }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    static T& get() {
        assert(current() && "no instance is registered");
        return *current();
    }
    static bool exists() { return current() != nullptr; }

private:
    static T*& current() {
        static T* instance = nullptr;
        return instance;
    }

    T* previous_;
};

// Owns the one T and makes it T::shared() while it lives.
template <class T>
class SharedObject {
public:
    template <class... Arguments>
    explicit SharedObject(Arguments&&... arguments) : object_(std::forward<Arguments>(arguments)...), shared_(object_) {}

    T& operator*() { return object_; }
    T* operator->() { return &object_; }

private:
    T object_;
    Shared<T> shared_;
};

}  // namespace kv

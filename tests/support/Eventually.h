#pragma once

#include <chrono>
#include <thread>

namespace kv::test {

// Whether the condition comes to hold within the time, looked at every few milliseconds: for
// what the service shows no event of (a file, a state, a port).
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds within = std::chrono::seconds(5)) {
    for (const auto end = std::chrono::steady_clock::now() + within; !condition();) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace kv::test

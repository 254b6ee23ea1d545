#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

// A kv-keyboard-sim process: a keyboard on the JACK server of the test, played through its
// commands, its printed lines collected as they come.
class KeyboardSim {
public:
    explicit KeyboardSim(const std::string& name);
    ~KeyboardSim();
    KeyboardSim(const KeyboardSim&) = delete;
    KeyboardSim& operator=(const KeyboardSim&) = delete;

    bool ready() const { return ready_; }
    // "<note> <velocity>", "sysex <size>", "flood <rate> <seconds>".
    void command(const std::string& line);
    // Unplugs the keyboard: the process ends.
    void quit();

    std::vector<std::string> lines();
    // The first line from `from` on that contains the text, waiting up to the timeout.
    std::optional<std::string> waitForLine(const std::string& text, std::chrono::milliseconds timeout, std::size_t from = 0);

    struct Led {
        std::uint64_t monotonicNs = 0;
        int key = 0;
        int colour = 0;
        bool on = false;
    };
    // Every LED message received so far, in order, once `count` messages have been received or
    // reported lost, or the timeout has passed.
    std::vector<Led> leds(std::size_t count = 0, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Messages the keyboard's input reported lost (JACK cycles it read too late).
    std::size_t lost();

private:
    void readLines(int fd);

    pid_t pid_ = -1;
    int input_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ready_ = false;
};

}  // namespace kv::test

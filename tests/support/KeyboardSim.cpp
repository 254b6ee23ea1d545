#include "support/KeyboardSim.h"

#include "support/ChildProcess.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>


namespace kv::test {

KeyboardSim::KeyboardSim(const std::string& name) {
    int toSim[2];
    int fromSim[2];
    if (pipe(toSim) != 0 || pipe(fromSim) != 0) return;
    // The simulator must not hold our ends of the pipes: closing ours is its end of input.
    fcntl(toSim[1], F_SETFD, FD_CLOEXEC);
    fcntl(fromSim[0], F_SETFD, FD_CLOEXEC);
    pid_ = spawnChild({KV_KEYBOARD_SIM, "--name", name, "--api", "jack", "--decode-leds", "--stdin"}, toSim[0], fromSim[1]);
    close(toSim[0]);
    close(fromSim[1]);
    input_ = toSim[1];
    if (pid_ <= 0) {
        pid_ = -1;
        close(fromSim[0]);
        return;
    }
    reader_ = std::thread([this, fd = fromSim[0]] { readLines(fd); });
    ready_ = waitForLine(" ready ", std::chrono::seconds(5)).has_value();
}

KeyboardSim::~KeyboardSim() {
    quit();
    if (reader_.joinable()) reader_.join();
}

void KeyboardSim::command(const std::string& line) {
    if (input_ < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] const auto written = write(input_, text.data(), text.size());
}

void KeyboardSim::quit() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    if (pid_ <= 0) return;
    // A keyboard left on a JACK server that went away may not get to end by itself.
    reapChild(pid_, std::chrono::seconds(3));
    pid_ = -1;
}

void KeyboardSim::readLines(int fd) {
    FILE* stream = fdopen(fd, "r");
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    while ((length = getline(&line, &capacity, stream)) > 0) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line, static_cast<std::size_t>(length) - (line[length - 1] == '\n' ? 1 : 0));
        changed_.notify_all();
    }
    free(line);
    fclose(stream);
}

std::vector<std::string> KeyboardSim::lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::optional<std::string> KeyboardSim::waitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                                    std::size_t from) {
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    changed_.wait_for(lock, timeout, [&] {
        for (std::size_t i = from; i < lines_.size() && !found; ++i) {
            if (lines_[i].find(text) != std::string::npos) found = lines_[i];
        }
        return found.has_value();
    });
    return found;
}

namespace {

std::optional<KeyboardSim::Led> ledOf(const std::string& line) {
    std::istringstream fields(line);
    KeyboardSim::Led led;
    std::string key, colour, state;
    if (!(fields >> led.monotonicNs >> key >> led.key >> colour >> led.colour >> state) || key != "key") return std::nullopt;
    led.on = state == "on";
    return led;
}

std::size_t lostIn(const std::vector<std::string>& lines) {
    std::size_t lost = 0;
    for (const auto& line : lines) {
        std::istringstream fields(line);
        std::uint64_t ns = 0;
        std::string word;
        std::size_t count = 0;
        if (fields >> ns >> word >> count && word == "lost") lost += count;
    }
    return lost;
}

}  // namespace

std::vector<KeyboardSim::Led> KeyboardSim::leds(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::vector<Led> result;
    changed_.wait_for(lock, timeout, [&] {
        result.clear();
        for (const auto& line : lines_) {
            if (const auto led = ledOf(line)) result.push_back(*led);
        }
        return result.size() + lostIn(lines_) >= count;
    });
    return result;
}

std::size_t KeyboardSim::lost() {
    std::lock_guard lock(mutex_);
    return lostIn(lines_);
}

}  // namespace kv::test

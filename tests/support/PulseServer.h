#pragma once

#include "support/TempDirectory.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <vector>

namespace kv::test {

// A PulseAudio server of one test, with a null sink for a sound card, in a runtime folder of its
// own: clients find it when their XDG_RUNTIME_DIR names that folder. stop() and start() play a sound server that goes
// away and comes back.
class PulseServer {
public:
    static constexpr int kSampleRate = 48000;

    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    static bool installed();
    bool running() const { return pid_ > 0; }
    const std::filesystem::path& runtimeFolder() const { return folder_.path(); }
    void stop();
    void start();
    // How long the first client stream's sound waits in the server's buffer; an hour when no
    // stream plays.
    std::chrono::microseconds streamBufferLatency() const;
    // What the null sink plays for that long, mono.
    std::vector<float> record(std::chrono::milliseconds length) const;

private:
    TempDirectory folder_;
    pid_t pid_ = -1;
};

}  // namespace kv::test

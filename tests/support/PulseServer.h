#pragma once

#include "support/TempDirectory.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <vector>

namespace kv::test {

// A sound server with a PulseAudio face for one test, with a null sink "kvtest" for a sound card,
// in a runtime folder of its own: clients find it when their XDG_RUNTIME_DIR names that folder.
// PulseAudio itself, or PipeWire with WirePlumber and pipewire-pulse (and its JACK face for a
// process whose libjack is pipewire-jack's) on a session bus of its own. stop() and start() play
// a sound server that goes away and comes back.
class PulseServer {
public:
    static constexpr int kSampleRate = 48000;
    enum class Kind { pulseaudio, pipewire };

    explicit PulseServer(Kind kind = Kind::pulseaudio);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    static bool installed(Kind kind = Kind::pulseaudio);
    bool running() const { return !pids_.empty(); }
    const std::filesystem::path& runtimeFolder() const { return folder_.path(); }
    void stop();
    void start();
    // How long the first client stream's sound waits in the server's buffer; an hour when no
    // stream plays.
    std::chrono::microseconds streamBufferLatency() const;
    // What the null sink plays for that long, mono.
    std::vector<float> record(std::chrono::milliseconds length) const;

private:
    void startPulseAudio();
    void startPipeWire();
    void keep(pid_t pid);
    // Runs pactl against this server; whether it succeeded.
    bool pactl(const std::string& arguments) const;

    Kind kind_;
    TempDirectory folder_;
    std::vector<pid_t> pids_;  // the server's programs, in the order they started
};

}  // namespace kv::test

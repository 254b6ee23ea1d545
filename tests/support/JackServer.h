#pragma once

#include <jack/jack.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

// A JACK server with its dummy driver (no sound card) under a name of its own, for one test.
// Clients of this process find it through JACK_DEFAULT_SERVER, which it sets.
class JackServer {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kPeriod = 256;

    // Real-time where the system allows it, as a user's server runs: without, another build on the
    // machine starves its clients for whole cycles, and what a late client reads is gone. The
    // benchmarks' figures were taken without.
    enum class Scheduling { realtime, normal };

    // A shorter period for MIDI, which JACK delivers once a cycle.
    explicit JackServer(int period = kPeriod, Scheduling scheduling = Scheduling::realtime);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return running_; }
    const std::string& name() const { return name_; }
    // The server goes away as a user's would (its clients are told) and comes back under its name.
    void stop();
    void start();

private:
    void launch();

    std::string name_;
    int period_;
    Scheduling scheduling_;
    pid_t pid_ = -1;
    bool running_ = false;
};

// The one server of a test process whose service keeps its ports until the process ends, with
// the short period MIDI wants.
JackServer& processJackServer();

// Records what the named client's output ports play, with the JACK frame time of every cycle.
class JackRecorder {
public:
    JackRecorder(const std::string& server, const std::string& sourceClient, double seconds);
    ~JackRecorder();
    JackRecorder(const JackRecorder&) = delete;
    JackRecorder& operator=(const JackRecorder&) = delete;

    bool connected() const { return connected_; }
    std::size_t periodFrames() const { return period_; }
    // Host time (CLOCK_MONOTONIC ns) of recorded frame `index`. JACK keeps time on a clock of
    // its own, whose rate may differ from the host clock's (one is slewed, the other not): each
    // cycle records how far apart the two were then.
    std::uint64_t hostTimeOfFrame(std::size_t index) const;
    std::vector<float> samples() const;  // left channel, as recorded so far
    // Frames where sound starts after at least kSilenceBeforeOnset silent ones (a waveform
    // crosses zero inside a sound too).
    static constexpr std::size_t kSilenceBeforeOnset = 100;
    std::vector<std::size_t> onsets() const;
    // Whether every cycle of the recording ran within `slack` of its time, and began where the
    // one before ended: a server starved by a loaded machine (its dummy driver is not real time)
    // runs late, or drops the time it lost and starts its clock anew, and then records nothing a
    // timing can be read from.
    bool keptTime(std::chrono::milliseconds slack = std::chrono::milliseconds(10)) const {
        const auto bound = static_cast<double>(std::chrono::nanoseconds(slack).count());
        return worstLateness_.load() <= bound && worstGap_.load() <= bound;
    }

private:
    static int process(jack_nframes_t frames, void* self);
    double hostStartOf(std::size_t cycle) const;  // host time of the cycle's first frame, ns

    jack_client_t* client_ = nullptr;
    jack_port_t* input_ = nullptr;
    std::vector<float> recording_;
    // Per recorded cycle, taken in the cycle itself: JACK's later estimates would map old frames
    // with its latest period.
    std::vector<double> cycleStart_;          // JACK's time of the cycle's first frame, ns
    std::vector<double> cyclePeriod_;         // JACK's length of the cycle, ns
    std::vector<double> cycleJackMinusHost_;  // ns
    std::atomic<std::size_t> recorded_{0};
    std::atomic<std::size_t> cycles_{0};
    std::atomic<double> worstLateness_{0};  // ns from a cycle's start to its callback
    std::atomic<double> worstGap_{0};       // ns between a cycle's end and the next one's start
    std::size_t period_ = JackServer::kPeriod;  // frames a cycle
    bool connected_ = false;
};

}  // namespace kv::test

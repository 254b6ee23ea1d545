// How long a resting output takes to open again: kv_bench_output_wake <jack|pulse> [rounds], on a
// sound server of its own (JACK's dummy driver, or PulseAudio with a null sink). For each round:
// the wake's own time on the main queue, the first render after it, and when that render's first
// frame is heard (one output latency later). Prints p50 and max of each, in ms.
#include "base/HostClock.h"
#include "playback/SoundSystem.h"

#include "BenchResults.h"
#include "support/JackServer.h"
#include "support/PulseServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

double millisSince(std::uint64_t start) {
    return static_cast<double>(kv::host_clock::now() - start) / 1e6;
}

nlohmann::json report(const char* name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("  %-34s p50 %7.2f ms, max %7.2f ms\n", name, values[values.size() / 2], values.back());
    return {{"p50", values[values.size() / 2]}, {"max", values.back()}, {"samples", values}};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const std::string server = argc > 1 ? argv[1] : "jack";
    const int rounds = argc > 2 ? std::stoi(argv[2]) : 20;
    std::unique_ptr<kv::test::JackServer> jack;
    std::unique_ptr<kv::test::PulseServer> pulse;
    if (server == "jack") {
        jack = std::make_unique<kv::test::JackServer>(kv::test::JackServer::kPeriod, kv::test::JackServer::Scheduling::normal);
        if (!jack->running()) return 1;
    } else {
        if (!kv::test::PulseServer::installed()) return 77;
        pulse = std::make_unique<kv::test::PulseServer>();
        if (!pulse->running()) return 1;
        ::setenv("XDG_RUNTIME_DIR", pulse->runtimeFolder().c_str(), 1);
    }
    ::setenv("KVPLUGIN_AUDIO_API", server.c_str(), 1);
    kv::SoundSystem sound(std::chrono::nanoseconds(0));
    if (sound.engine().deviceState().name == "null") return 1;

    std::vector<double> woken, rendered, heard;
    for (int round = 0; round < rounds; ++round) {
        sound.restUnlessNeeded(false);
        if (!sound.resting()) return 1;
        std::this_thread::sleep_for(200ms);
        const std::uint64_t before = sound.engine().deviceState().framesRendered;
        const std::uint64_t asked = kv::host_clock::now();
        sound.wake();
        woken.push_back(millisSince(asked));
        while (sound.engine().deviceState().framesRendered == before) std::this_thread::sleep_for(100us);
        rendered.push_back(millisSince(asked));
        heard.push_back(rendered.back() + sound.engine().outputLatencySeconds() * 1e3);
    }
    std::printf("Opening a resting output on %s (%s), %d rounds:\n", server.c_str(),
                sound.engine().deviceState().name.c_str(), rounds);
    kv::test::saveBenchResults("output-wake-" + server, {{"wake", report("the wake on the main queue", woken)},
                                                          {"first render", report("its first render", rendered)},
                                                          {"heard", report("the first frame it renders heard", heard)}});
    return 0;
}

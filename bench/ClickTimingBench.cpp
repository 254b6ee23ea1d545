// Metronome click onsets against their schedule, recorded from a JACK server with the dummy
// driver: kv_bench_click_timing [ticks]. Prints the error's mean, p99 and max in milliseconds.
#include "audio/AudioEngine.h"
#include "base/HostClock.h"
#include "platform/audio/JackAudioDevice.h"
#include "platform/desktop/Resources.h"
#include "platform/dispatch/SerialQueue.h"
#include "playback/Metronome.h"
#include "playback/PlaySongLogic.h"

#include "BenchResults.h"
#include "support/JackServer.h"

#include "TimingErrors.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const int ticks = argc > 1 ? std::stoi(argv[1]) : 80;
    const double interval = 0.25;
    kv::test::JackServer server(kv::test::JackServer::kPeriod, kv::test::JackServer::Scheduling::normal);
    if (!server.running()) return 1;
    kv::AudioEngine engine(std::make_unique<kv::JackAudioDevice>());
    if (!engine.start()) return 1;
    kv::Metronome metronome(engine, kv::resourcePath("sounds/tick.wav"));
    kv::test::JackRecorder recorder(server.name(), "KVPlugin", ticks * interval + 3);
    if (!recorder.connected()) return 1;
    std::this_thread::sleep_for(1s);

    const std::uint64_t start = kv::host_clock::now() + 300'000'000;
    // A play of clicks alone, handed over by a performance as in a lesson.
    kv::SerialQueue playback("Playback");
    kv::PlayPlan plan;
    plan.startHost = plan.songStartHost = start;
    plan.clicks = kv::ClickPlan::of(interval, std::nullopt, 1, 0);
    plan.clickSound = &metronome;
    const std::atomic<std::int32_t> countOffVolume{100};
    const auto performance = std::make_shared<kv::PlaySongLogic>(plan, countOffVolume);
    metronome.begin();
    performance->start(playback);
    std::this_thread::sleep_for(std::chrono::duration<double>(ticks * interval + 0.5));
    performance->stop();
    metronome.stop();

    const auto scheduledZero = static_cast<double>(start);
    const auto onsets = recorder.onsets();
    std::vector<double> errors;
    for (std::size_t tick = 0; tick < onsets.size() && tick < static_cast<std::size_t>(ticks); ++tick) {
        const double heard = static_cast<double>(recorder.hostTimeOfFrame(onsets[tick])) +
                             engine.outputLatencySeconds() * 1e9;
        errors.push_back((heard - (scheduledZero + tick * interval * 1e9)) / 1e6);
    }
    if (errors.empty()) return 1;
    const auto summary = kv::bench::TimingErrors::of(errors);
    kv::test::saveBenchResults("clicks", {{"metronome alone", errors}});
    std::fprintf(stdout, "%zu clicks on JACK (dummy driver, 48 kHz, 256 frames): error mean %+.3f ms, p99 |%.3f| ms, max |%.3f| ms, "
                 "%llu underflows\n",
                 errors.size(), summary.mean, summary.p99, summary.max, static_cast<unsigned long long>(engine.deviceState().underflows));
    return 0;
}

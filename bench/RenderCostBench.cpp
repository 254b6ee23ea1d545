// CPU time per second of audio: our engine (synthesizer playing a dense General MIDI song, and
// the metronome) rendering offline, next to the fluidsynth command rendering the same song:
//   kv_bench_render_cost <SoundFont> <work folder>
#include "DenseSong.h"
#include "audio/AudioEngine.h"
#include "audio/Synthesizer.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "platform/desktop/Resources.h"
#include "playback/Metronome.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr double kSeconds = 60;

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <SoundFont> <work folder>\n", argv[0]);
        return 2;
    }
    const std::string soundFont = argv[1];
    const std::filesystem::path folder = argv[2];
    const auto events = kv::bench::denseSong(kSeconds);
    kv::bench::writeMidiFile(events, folder / "dense.mid");

    auto device = std::make_unique<kv::OfflineAudioDevice>();
    auto* offline = device.get();
    kv::AudioEngine engine(std::move(device));
    auto synthesizer = std::make_shared<kv::Synthesizer>(engine.sampleRate(), soundFont);
    engine.connect(synthesizer, engine.mainMixerNode());
    engine.start();
    kv::Metronome metronome(engine, kv::resourcePath("sounds/tick.wav"));

    const double ours0 = cpuSeconds(RUSAGE_SELF);
    metronome.begin();
    std::size_t next = 0;
    for (int second = 0; second < kSeconds; ++second) {
        for (; next < events.size() && events[next].ms < (second + 1) * 1000.0; ++next) {
            const auto& event = events[next];
            const auto frame = static_cast<std::uint64_t>(event.ms * 48.0);
            synthesizer->send(event.status & 0xF0, event.status & 0x0F, event.data1, event.data2, offline->hostTimeOfFrame(frame));
        }
        // Two clicks a second, handed over a second ahead as the song's notes are.
        const auto first = static_cast<std::uint64_t>(second) * 48'000;
        for (const std::uint64_t frame : {first, first + 24'000}) {
            metronome.click(frame % 96'000 == 0, offline->hostTimeOfFrame(frame));
        }
        for (int step = 0; step < 10; ++step) offline->renderFrames(4800);
    }
    metronome.stop();
    const double ours = cpuSeconds(RUSAGE_SELF) - ours0;

    const double theirs0 = cpuSeconds(RUSAGE_CHILDREN);
    const std::string command = "fluidsynth -ni -q -r 48000 -F '" + (folder / "dense.wav").string() + "' '" + soundFont +
                                "' '" + (folder / "dense.mid").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return 1;
    const double theirs = cpuSeconds(RUSAGE_CHILDREN) - theirs0;
    std::printf("%zu events, %.0f s of audio\n", events.size(), kSeconds);
    std::printf("kvplugin engine (synthesizer + metronome): %.4f s CPU per s of audio\n", ours / kSeconds);
    std::printf("fluidsynth -F (same song):                 %.4f s CPU per s of audio\n", theirs / kSeconds);
    std::printf("ratio ours / fluidsynth: %.2f\n", ours / theirs);
    return 0;
}

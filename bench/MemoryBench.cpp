// Resident memory of the synthesizer with a SoundFont, each case in a fresh process:
//   kv_bench_memory <SoundFont> every-sample   FluidSynth as it loads by default: every sample
//   kv_bench_memory <SoundFont> ours           the bare process, our synthesizer idle, then after
//                                              60 s of a dense 16-program song
// Prints "<case> <resident MB> [<peak MB>]" lines.
#include "DenseSong.h"
#include "audio/AudioEngine.h"
#include "audio/Synthesizer.h"
#include "platform/audio/OfflineAudioDevice.h"

#include <fluidsynth.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr double kSeconds = 60;

double statusMegabytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
    }
    return 0;
}

void report(const char* label) {
    std::printf("%s %.1f %.1f\n", label, statusMegabytes("VmRSS"), statusMegabytes("VmHWM"));
}

int everySample(const char* soundFont) {
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setint(settings, "synth.midi-channels", 32);
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (fluid_synth_sfload(synth, soundFont, 1) == FLUID_FAILED) return 1;
    report("every-sample");
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return 0;
}

int ours(const char* soundFont) {
    report("process");
    auto device = std::make_unique<kv::OfflineAudioDevice>();
    auto* offline = device.get();
    kv::AudioEngine engine(std::move(device));
    auto synthesizer = std::make_shared<kv::Synthesizer>(engine.sampleRate(), soundFont);
    engine.connect(synthesizer, engine.mainMixerNode());
    engine.start();
    report("ours-idle");
    const auto events = kv::bench::denseSong(kSeconds);
    std::size_t next = 0;
    for (int second = 0; second < kSeconds; ++second) {
        for (; next < events.size() && events[next].ms < (second + 1) * 1000.0; ++next) {
            const auto& event = events[next];
            synthesizer->send(event.status & 0xF0, event.status & 0x0F, event.data1, event.data2,
                              offline->hostTimeOfFrame(static_cast<std::uint64_t>(event.ms * 48.0)));
        }
        offline->renderFrames(48000);
    }
    report("ours-playing");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <SoundFont> every-sample|ours\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[2];
    if (mode == "every-sample") return everySample(argv[1]);
    if (mode == "ours") return ours(argv[1]);
    return 2;
}

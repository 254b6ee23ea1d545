// Backing tracks: kv_bench_stems decode <folder> | render <mp3> <rate> | memory <mp3> | start <plays>
//   decode  the folder's MP3 files one after the other, then all in parallel as the player
//           prepares a song (seconds)
//   render  one stem rendered whole at a rate: CPU seconds per second of output, fill and render
//   memory  resident growth of eight renderers on one decoded stem, against the decoded size (MB)
//   start   stems started a few hundred ms ahead on a JACK server, each start's first sample
//           against its scheduled host time (ms)
#include "audio/AudioEngine.h"
#include "audio/Mp3Decoder.h"
#include "base/HostClock.h"
#include "base/SharedObject.h"
#include "platform/audio/JackAudioDevice.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "platform/dispatch/MainQueue.h"
#include "stems/StemFiles.h"
#include "stems/StemRenderer.h"
#include "stems/StemsPlayer.h"
#include "store/File.h"

#include "BenchResults.h"
#include "support/JackServer.h"

#include "TimingErrors.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) return std::stod(line.substr(6)) / 1024;
    }
    return 0;
}

std::shared_ptr<const kv::DecodedAudio> decode(const fs::path& file) {
    auto decoded = kv::decodeMp3(file, kv::StemsPlayer::kMaxStemSeconds);
    if (!std::holds_alternative<kv::DecodedAudio>(decoded)) return nullptr;
    return std::make_shared<const kv::DecodedAudio>(std::move(std::get<kv::DecodedAudio>(decoded)));
}

bool prepare(kv::StemsPlayer& player, const std::string& songId, double bpm) {
    std::promise<bool> done;
    player.prepareWithSongId(songId, bpm, [&done](auto error) { done.set_value(!error); });
    return done.get_future().get();
}

int decodeBench(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".mp3") files.push_back(entry.path());
    }
    auto began = std::chrono::steady_clock::now();
    for (const auto& file : files) decode(file);
    const double serial = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    // The player's own preparation: its song folder is the store root's.
    const auto songFolder = kv::stem_files::songFolder(kv::File::getRootPath(), "bench");
    fs::create_directories(songFolder);
    for (std::size_t i = 0; i < files.size(); ++i) {
        fs::copy_file(files[i], songFolder / (std::to_string(i + 1) + "_120_bench.mp3"), fs::copy_options::overwrite_existing);
    }
    kv::SharedObject<kv::MainQueue> main;
    kv::HttpTransfers transfers;
    kv::AudioEngine engine(std::make_unique<kv::OfflineAudioDevice>());
    engine.start();
    kv::StemsPlayer player(engine, main->executor(), transfers);
    began = std::chrono::steady_clock::now();
    if (!prepare(player, "bench", 120)) return 1;
    const double parallel = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("%zu files: one after the other %.2f s, in parallel (the player's preparation) %.2f s\n", files.size(), serial, parallel);
    return 0;
}

int renderBench(const fs::path& file, float rate) {
    const auto recording = decode(file);
    if (!recording) return 1;
    kv::AudioButler butler([] {});
    const auto stem = kv::StemRenderer::make(recording, 1, rate, 48000, butler);
    constexpr std::uint32_t kFrames = 256;
    std::vector<float> output(kFrames * 2);
    const double cpuBefore = cpuSeconds();
    stem->arm(0, 0, rate, 1);
    std::uint64_t frames = 0;
    const auto expected = static_cast<std::uint64_t>(stem->playedDurationSec() * 48000);
    while (frames < expected) {
        std::fill(output.begin(), output.end(), 0.0F);
        stem->render(kv::RenderContext{output.data(), kFrames, 1 + frames * 1'000'000'000 / 48000, 48000});
        stem->fill();
        frames += kFrames;
    }
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = static_cast<double>(frames) / 48000;
    std::printf("rate %.2f: %.1f s of output in %.3f CPU s: %.5f CPU s per second\n", static_cast<double>(rate), seconds, cpu, cpu / seconds);
    return 0;
}

int memoryBench(const fs::path& file) {
    const auto recording = decode(file);
    if (!recording) return 1;
    const double decodedMb = static_cast<double>(recording->frames()) * static_cast<double>(recording->planes.size()) * 4 / 1048576;
    const double before = residentMb();
    kv::AudioButler butler([] {});
    std::vector<std::shared_ptr<kv::StemRenderer>> stems;
    for (int i = 0; i < 8; ++i) {
        stems.push_back(kv::StemRenderer::make(recording, i, 1.25F, 48000, butler));
        stems.back()->arm(0, 0, 1.25F, 1);
    }
    std::printf("decoded stem %.1f MB; a renderer, armed, %.2f MB\n", decodedMb, (residentMb() - before) / 8);
    return 0;
}

int startBench(int plays) {
    kv::test::JackServer server(kv::test::JackServer::kPeriod, kv::test::JackServer::Scheduling::normal);
    if (!server.running()) return 1;
    const auto songFolder = kv::stem_files::songFolder(kv::File::getRootPath(), "start");
    const fs::path tone = songFolder / "1_120_tone.mp3";
    if (!fs::exists(tone)) return 1;
    kv::SharedObject<kv::MainQueue> main;
    kv::HttpTransfers transfers;
    kv::AudioEngine engine(std::make_unique<kv::JackAudioDevice>());
    if (!engine.start()) return 1;
    kv::StemsPlayer player(engine, main->executor(), transfers);
    if (!prepare(player, "start", 120)) return 1;
    kv::test::JackRecorder recorder(server.name(), "KVPlugin", plays * 0.8 + 2);
    if (!recorder.connected()) return 1;
    std::this_thread::sleep_for(500ms);
    std::vector<std::uint64_t> starts;
    for (int play = 0; play < plays; ++play) {
        starts.push_back(kv::host_clock::now() + 300'000'000 + static_cast<std::uint64_t>(play * 7'919'000 % 5'000'000));
        player.playAtHostTime(starts.back(), 0, 0.25);
        std::this_thread::sleep_for(700ms);
        main->sync([&player] { player.stop(); });
        std::this_thread::sleep_for(100ms);
    }
    const auto onsets = recorder.onsets();
    std::vector<double> errors;
    for (std::size_t i = 0; i < onsets.size() && i < starts.size(); ++i) {
        const double heard = static_cast<double>(recorder.hostTimeOfFrame(onsets[i])) + engine.outputLatencySeconds() * 1e9;
        errors.push_back((heard - static_cast<double>(starts[i])) / 1e6);
    }
    if (errors.empty()) return 1;
    const auto summary = kv::bench::TimingErrors::of(errors);
    kv::test::saveBenchResults("stem-starts", {{"stems", errors}});
    std::printf("%zu stem starts on JACK (dummy driver, 48 kHz, 256 frames): error mean %+.3f ms, p99 |%.3f| ms, max |%.3f| ms\n",
                errors.size(), summary.mean, summary.p99, summary.max);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    if (mode == "decode") return decodeBench(argv[2]);
    if (mode == "render" && argc > 3) return renderBench(argv[2], std::stof(argv[3]));
    if (mode == "memory") return memoryBench(argv[2]);
    if (mode == "start") return startBench(std::stoi(argv[2]));
    return 2;
}

// A lesson's sounds on a JACK server with the dummy driver, recorded from the service's output:
//   kv_bench_playback_timing <kvplugin executable> <SoundFont> [notes]
// The real service caches, prepares and plays a song of woodblock notes on the off-beats with a
// four-tick count-off and the metronome; each onset against its schedule (mean, p99, max, in ms),
// by kind, and the error of each interval between song notes against the file's. Then the
// `fluidsynth` command plays the same file with its own MIDI player into the same server: the
// baseline of the intervals.
#include "base/HostClock.h"

#include "BenchResults.h"
#include "support/ChildProcess.h"
#include "support/JackServer.h"
#include "support/MidiFileBuilder.h"
#include "support/RequestText.h"
#include "support/RiseOnsets.h"
#include "support/TempDirectory.h"
#include "support/WsClient.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
constexpr double kRate = kv::test::JackServer::kSampleRate;

// `leadIn` ticks of silence first (1,920 are 2 s at 120 a minute).
std::vector<std::uint8_t> offBeatWoodblock(int notes, std::uint32_t leadIn = 0) {
    kv::test::MidiTrackBuilder track;
    track.event(leadIn, {0xC0, 115}).event(0, {0xB0, 7, 127}).event(0, {0x90, 76, 127}).event(60, {0x80, 76, 0});
    for (int note = 0; note < notes; ++note) track.event(note == 0 ? 180 : 420, {0x90, 76, 127}).event(60, {0x80, 76, 0});
    return kv::test::midiFile(480, {track});
}

std::string utcText(std::int64_t wallMillis) {
    const auto seconds = static_cast<std::time_t>(wallMillis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(wallMillis % 1000));
    return text;
}

struct Summary {
    double mean = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

// The mean, and the p99 and maximum of each error's distance from it: a constant offset (the
// output latency, the attack of a sound) apart from how far each one strays.
Summary summarize(const std::vector<double>& errors) {
    Summary summary;
    summary.count = errors.size();
    if (errors.empty()) return summary;
    for (double error : errors) summary.mean += error / static_cast<double>(errors.size());
    std::vector<double> magnitudes;
    for (double error : errors) magnitudes.push_back(std::abs(error - summary.mean));
    std::sort(magnitudes.begin(), magnitudes.end());
    summary.p99 = magnitudes[static_cast<std::size_t>(0.99 * static_cast<double>(magnitudes.size() - 1))];
    summary.max = magnitudes.back();
    return summary;
}

void print(const char* label, const Summary& summary) {
    std::printf("%-24s %4zu  mean %+7.3f ms  p99 ±%6.3f ms  max ±%6.3f ms\n", label, summary.count, summary.mean, summary.p99,
                summary.max);
}

// The frame of a recording heard at a host time (frames are recorded as they are played).
std::size_t frameAt(const kv::test::JackRecorder& recorder, std::size_t frames, double hostTime) {
    std::size_t low = 0, high = frames - 1;
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (static_cast<double>(recorder.hostTimeOfFrame(middle)) < hostTime) low = middle + 1;
        else high = middle;
    }
    return low;
}

// Each expected time (ms after `zero`, a host time) against the onset found within 40 ms.
std::vector<double> errorsAgainst(const kv::test::JackRecorder& recorder, double zero, const std::vector<double>& expected) {
    const auto samples = recorder.samples();
    std::vector<double> errors;
    for (const double at : expected) {
        const auto onset = kv::test::onsetNear(samples, kRate, frameAt(recorder, samples.size(), zero + at * 1e6),
                                               static_cast<std::size_t>(kRate / 25));
        if (onset) errors.push_back((static_cast<double>(recorder.hostTimeOfFrame(*onset)) - zero) / 1e6 - at);
    }
    return errors;
}

// Between the off-beat notes: the first note sounds with a click, which the detector cannot
// tell apart from it.
std::vector<double> intervalErrors(const std::vector<double>& errors) {
    std::vector<double> intervals;
    for (std::size_t i = 2; i < errors.size(); ++i) intervals.push_back(errors[i] - errors[i - 1]);
    return intervals;
}

json call(kv::test::WsClient& client, int methodName, json data) {
    client.sendText(json({{"methodName", methodName}, {"functionId", "b"}, {"data", std::move(data)}}).dump());
    for (auto text = client.receive(15s); text; text = client.receive(15s)) {
        const json message = json::parse(*text);
        if (message.value("methodName", 0) == methodName) return message.value("data", json());
    }
    return nullptr;
}

void stopChild(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

void benchService(const std::string& executable, const std::vector<std::uint8_t>& song, int notes) {
    kv::test::TempDirectory dataHome;
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    setenv("KVPLUGIN_AUDIO_API", "jack", 1);
    const pid_t service = kv::test::spawnChild({executable});
    for (int i = 0; i < 200 && !kv::test::portAcceptsConnections(19420); ++i) std::this_thread::sleep_for(50ms);
    kv::test::WsClient client(19420);
    call(client, 6, {{"id", 77}, {"midiFile", kv::test::base64(song)}, {"lastMidiModified", "b"}});
    call(client, 9, {{"songId", 77}, {"tempo", 120}, {"timeSignature", {{"beats", 4}, {"beatType", 4}}}, {"endTime", 1e7},
                     {"tickSpacing", 500}, {"listCountOffSound", json::array({"oneSound", "twoSound", "threeSound", "fourSound"})}});
    kv::test::JackRecorder recorder(getenv("JACK_DEFAULT_SERVER"), "KVPlugin", notes * 0.5 + 6);
    std::this_thread::sleep_for(1s);
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double zero = static_cast<double>(kv::host_clock::now()) + 1e9;
    call(client, 12, {{"songId", 77}, {"startTime", utcText(wall + 1000)}, {"accompanimentVolume", 100},
                      {"metronomeVolume", 100}, {"countOffVolume", 100}});
    std::this_thread::sleep_for(std::chrono::milliseconds(2500 + notes * 500));
    call(client, 10, nullptr);

    std::vector<double> countOff = {0, 500, 1000, 1500}, songNotes = {2000}, clicks;
    for (int beat = 0; beat < notes; ++beat) {
        songNotes.push_back(2250 + beat * 500);
        if (beat > 0) clicks.push_back(2000 + beat * 500);
    }
    std::printf("kvplugin, %d song notes: recorded onset − scheduled time (the mean holds the output latency)\n", notes + 1);
    const auto countOffErrors = errorsAgainst(recorder, zero, countOff);
    const auto noteErrors = errorsAgainst(recorder, zero, songNotes);
    const auto clickErrors = errorsAgainst(recorder, zero, clicks);
    print("  count-off ticks", summarize(countOffErrors));
    print("  song notes", summarize(noteErrors));
    print("  metronome clicks", summarize(clickErrors));
    print("  song note intervals", summarize(intervalErrors(noteErrors)));
    kv::test::saveBenchResults("playback", {{"count-off", countOffErrors}, {"midi notes", noteErrors},
                                            {"metronome", clickErrors}, {"note intervals", intervalErrors(noteErrors)}});
    stopChild(service);
}

// fluidsynth's own player: the notes' intervals against the file's.
void benchFluidsynth(const std::string& soundFont, const std::vector<std::uint8_t>& song, int notes) {
    kv::test::TempDirectory folder;
    const auto file = folder.path() / "song.mid";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(song.data()), static_cast<std::streamsize>(song.size()));
    const pid_t player = kv::test::spawnChild({"fluidsynth", "-a", "jack", "-i", "-q", "-r", "48000", "-o",
                                               "audio.jack.id=fsbase", "-o", "audio.jack.autoconnect=0", soundFont, file.string()});
    // Its output port appears once it has loaded the SoundFont; the song starts right away.
    std::unique_ptr<kv::test::JackRecorder> recorder;
    for (int i = 0; i < 300 && !(recorder && recorder->connected()); ++i) {
        recorder = std::make_unique<kv::test::JackRecorder>(getenv("JACK_DEFAULT_SERVER"), "fsbase", notes * 0.5 + 6);
        if (!recorder->connected()) std::this_thread::sleep_for(10ms);
    }
    if (!recorder->connected()) {
        std::puts("fluidsynth: its JACK output did not appear");
        stopChild(player);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3500 + notes * 500));
    stopChild(player);
    const auto samples = recorder->samples();
    const auto first = kv::test::onsetNear(samples, kRate, static_cast<std::size_t>(2.5 * kRate), static_cast<std::size_t>(2 * kRate));
    if (!first) return;
    const double zero = static_cast<double>(recorder->hostTimeOfFrame(*first));
    std::vector<double> songNotes = {0};
    for (int note = 0; note < notes; ++note) songNotes.push_back(250 + note * 500);
    std::printf("fluidsynth -a jack (its own MIDI player), the same file:\n");
    const auto intervals = intervalErrors(errorsAgainst(*recorder, zero, songNotes));
    print("  song note intervals", summarize(intervals));
    kv::test::saveBenchResults("playback-fluidsynth", {{"note intervals", intervals}});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: kv_bench_playback_timing <kvplugin executable> <SoundFont> [notes]\n", stderr);
        return 2;
    }
    const int notes = argc > 3 ? std::atoi(argv[3]) : 40;
    kv::test::JackServer server(256, kv::test::JackServer::Scheduling::normal);
    if (!server.running()) return 1;
    std::printf("JACK dummy driver, 48 kHz, 256-frame periods (5.3 ms); one synthesizer block is 1.33 ms\n");
    const auto song = offBeatWoodblock(notes);
    setenv("KVPLUGIN_SOUNDFONT", argv[2], 1);
    benchService(argv[1], song, notes);
    // The player starts the file as soon as it has loaded: two silent seconds let the recording begin.
    benchFluidsynth(argv[2], offBeatWoodblock(notes, 1920), notes);
    return 0;
}

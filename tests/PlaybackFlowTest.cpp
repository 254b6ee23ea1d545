#include "core/CacheCipher.h"
#include "core/KeyvoraFlow.h"
#include "playback/CountOff.h"
#include "playback/SongChase.h"
#include "playback/SongObject.h"
#include "playback/SoundSystem.h"
#include "store/CachePaths.h"
#include "stems/StemsPlayer.h"
#include "store/File.h"

#include "support/Eventually.h"
#include "support/HttpsTestServer.h"
#include "support/InProcessService.h"
#include "support/MidiFileBuilder.h"
#include "support/RequestText.h"
#include "support/Mp3Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

using test::utcTextIn;

// Two tracks: a conductor with tempo and program events, and a melody; notes meet at tick 480.
std::vector<std::uint8_t> twoTrackSong() {
    test::MidiTrackBuilder first;
    first.tempo(0, 1000000).event(0, {0xC1, 40}).event(0, {0xB1, 7, 100}).event(480, {0x91, 60, 90}).event(480, {0x81, 60, 0});
    test::MidiTrackBuilder second;
    second.event(0, {0x92, 67, 80}).event(480, {0x82, 67, 0}).event(0, {0x92, 69, 80}).event(480, {0x82, 69, 0});
    return test::midiFile(480, {first, second});
}

class PlaybackFlowTest : public test::InProcessService {
protected:
    void SetUp() override {
        quietBeforeRest_ = std::chrono::nanoseconds(0);  // once its devices are checked
        startService();
        onMainLoop([] { loadCountOffFiles(SongObject::shared(), SoundSystem::shared().engine()); });
    }
    bool resting() {
        return onMainLoop([] { return SoundSystem::shared().resting(); });
    }
    static void cache(int songId, const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(File::writeToFileWithURL(*createMidiCacheFolderPathWithSongID(std::to_string(songId)), encryptData(bytes).value()));
    }
    static bool copyLeftBehind() { return std::filesystem::exists(File::getRootPath() / "prepare_song"); }
};

TEST_F(PlaybackFlowTest, APreparedSongIsGroupedTimedAndGivenItsSynthesizers) {
    cache(21, twoTrackSong());
    const json prepared = call(9, {{"songId", 21}, {"tempo", 60}, {"timeSignature", {{"beats", 4}, {"beatType", 4}}},
                                   {"startTime", 1000}, {"endTime", 1900}, {"tickSpacing", 500},
                                   {"listCountOffSound", json::array({"oneSound", "twoSound"})}});
    EXPECT_EQ(prepared["code"], 0) << prepared;
    EXPECT_EQ(prepared["message"], "SUCCESS");
    EXPECT_EQ(prepared["duration"], 1000);
    EXPECT_EQ(prepared["isSetDevice"], 0);
    EXPECT_FALSE(copyLeftBehind());

    const auto& song = SongObject::shared();
    const auto groups = song.midiData.get();
    ASSERT_EQ(groups->size(), 3u);
    EXPECT_EQ((*groups)[1].startTime, 1000) << "tempo 60 whatever the file says";
    ASSERT_EQ((*groups)[1].listNotes.size(), 3u) << "both tracks' events of tick 480 in one group";
    EXPECT_EQ((*groups)[1].listNotes[0].track, 0);
    EXPECT_EQ((*groups)[1].listNotes[0].instrument, 40);
    EXPECT_EQ((*groups)[1].listNotes[1].track, 1);
    EXPECT_EQ((*groups)[1].listNotes[0].chanel, 1);
    EXPECT_EQ(song.playStartIndex, 1);
    EXPECT_EQ(song.playEndIndex, 2) << "1900 is nearer 2000 than 1000";
    const auto synthesizers = song.audioGraphCollection.get();
    EXPECT_EQ(synthesizers.size(), 2u) << "channel 2 has notes but no program or control change: it plays the default";
    EXPECT_TRUE(synthesizers.count(1) && synthesizers.count(2));
    EXPECT_EQ((*groups)[0].listNotes[1].chanel, 1) << "a controller goes to its own channel";

    // From the second group the play starts with channel 1's program and volume.
    EXPECT_EQ(chaseBefore(*groups, 1), (std::vector<std::vector<std::int32_t>>{{0xC1, 40}, {0xB1, 7, 100}}));
}

TEST_F(PlaybackFlowTest, AnUnreadableOrMissingSongFailsThePreparationAndLeavesNoCopy) {
    const json missing = call(9, {{"songId", 404}, {"tempo", 100}});
    EXPECT_EQ(missing["code"], -1);
    EXPECT_EQ(missing["message"], "MIDI file was not cached yet!");

    auto truncated = twoTrackSong();
    truncated.resize(truncated.size() - 9);  // the last track's length now runs past the end
    cache(22, truncated);
    EXPECT_EQ(call(9, {{"songId", 22}, {"tempo", 100}})["code"], -1);
    cache(23, std::vector<std::uint8_t>(100, 0x4D));
    EXPECT_EQ(call(9, {{"songId", 23}, {"tempo", 100}})["code"], -1);
    EXPECT_FALSE(copyLeftBehind());
    EXPECT_EQ(call(12, {{"songId", 404}, {"startTime", utcTextIn(0ms)}}), json({{"message", "Play midi song failed"}, {"code", -1}}));
}

// The play's life, request by request: what each is answered and the state it leaves. A refused
// request leaves the state as it was; a play is answered at its start.
TEST_F(PlaybackFlowTest, ThePlaysLifeRequestByRequest) {
    cache(30, twoTrackSong());
    const json prepare = {{"songId", 30}, {"tempo", 120}, {"tickSpacing", 150},
                          {"listCountOffSound", json::array({"oneSound", "twoSound", "threeSound", "fourSound"})}};
    const json ok = {{"message", "SUCCESS"}, {"code", 0}};
    struct Step {
        std::function<json()> request;
        json answer;  // null: any
        int state;
    };
    const auto play = [this](const std::string& start) { return call(12, {{"songId", 30}, {"startTime", start}}); };
    const std::vector<Step> steps = {
        {[&] { return call(10); }, {{"eventList", json::array()}, {"message", "SUCCESS"}, {"code", 0}}, KeyvoraFlow::kIdle},
        {[&] { return call(9, prepare); }, nullptr, KeyvoraFlow::kPreparing},
        {[&] { return play("2026-12-07"); }, {{"message", "Start time format is wrong."}, {"code", -1}}, KeyvoraFlow::kPreparing},
        {[&] { return play("2026-13-45T99:00:00"); }, {{"message", "Start time format is wrong."}, {"code", -1}}, KeyvoraFlow::kPreparing},
        {[&] { return play(utcTextIn(120s)); }, {{"message", "Start time is too far in the future."}, {"code", -1}}, KeyvoraFlow::kPreparing},
        {[&] { return play("1970-01-01T00:00:00"); }, {{"message", "Start time is too far in the past."}, {"code", -1}}, KeyvoraFlow::kPreparing},
        {[&] { return play("9999-12-31T23:59:59.999"); }, {{"message", "Start time is too far in the future."}, {"code", -1}}, KeyvoraFlow::kPreparing},
        {[&] { return call(12, {{"songId", 404}, {"startTime", utcTextIn(0ms)}}); }, {{"message", "Play midi song failed"}, {"code", -1}}, KeyvoraFlow::kPreparing},
        {[&] { return play(utcTextIn(300ms)); }, ok, KeyvoraFlow::kCountOff},
        {[&] { return call(9, prepare); }, {{"message", "THE DEVICE IS PLAYING MIDI FILE"}, {"code", 0}}, KeyvoraFlow::kCountOff},
        {[&] { return call(15)["code"]; }, 0, KeyvoraFlow::kSongPlaying},
        {[&] { return call(10); }, {{"eventList", json::array()}, {"message", "SUCCESS"}, {"code", 0}}, KeyvoraFlow::kIdle},
        {[&] { return call(9, {{"songId", 404}}); }, nullptr, KeyvoraFlow::kPreparing},
        {[&] { return call(10)["code"]; }, 0, KeyvoraFlow::kIdle},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto asked = std::chrono::steady_clock::now();
        const json answer = steps[i].request();
        if (!steps[i].answer.is_null()) {
            EXPECT_EQ(answer, steps[i].answer) << "step " << i;
        }
        EXPECT_EQ(KeyvoraFlow::shared().APP_STATE, steps[i].state) << "step " << i;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s) << "step " << i;
    }
    EXPECT_EQ(call(9, prepare)["message"], "SUCCESS") << "stopped, a song is prepared again";
}

// A play is answered at its start, and only a newer play's start or a stop ends it; once the
// count-offs would have ended, the newer play counts its song's keys.
TEST_F(PlaybackFlowTest, ANewerPlaySupersedesTheOneCountingOff) {
    cache(31, twoTrackSong());
    ASSERT_EQ(call(9, {{"songId", 31}, {"tempo", 120}, {"tickSpacing", 100},
                       {"listCountOffSound", json::array({"oneSound", "twoSound", "threeSound", "fourSound"})}})["code"], 0);
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(call(12, {{"songId", 31}, {"startTime", utcTextIn(300ms)}})["code"], 0);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 250ms) << "answered at the start";
    ASSERT_EQ(call(12, {{"songId", 31}, {"startTime", utcTextIn(400ms)}})["code"], 0);
    EXPECT_EQ(KeyvoraFlow::shared().APP_STATE, KeyvoraFlow::kCountOff) << "the first play's song did not take over";
    EXPECT_EQ(call(15)["code"], 0);
    EXPECT_EQ(KeyvoraFlow::shared().APP_STATE, KeyvoraFlow::kSongPlaying);
    EXPECT_EQ(call(10)["code"], 0);
}

// A stem song whose stems cannot be fetched is a MIDI song; stems that arrive but do not decode
// fail the preparation; good stems prepare, play, take their volumes and stop.
TEST_F(PlaybackFlowTest, AStemSongFallsBackToMidiOrFailsOnBadAudioOrPlaysItsStems) {
    test::HttpsTestServer server(test::HttpsTestServer::Scheme::http);
    const auto tone = File::getRootPath() / "flow-tone.mp3";
    test::writeToneMp3(tone, 2.0, 440, 1);
    server.copy(tone, "tone.mp3");
    std::string noise(6000, '\x55');
    noise.replace(0, 3, "ID3");
    server.put("noise.mp3", noise);
    cache(50, twoTrackSong());
    const auto stem = [&server](const std::string& file, int instrument) {
        return json{{"instrument_id", instrument}, {"tempo", 100}, {"link", server.url("/files/" + file)},
                    {"last_modified", file}, {"index", instrument}, {"instrument_name", file}};
    };
    const auto prepare = [&](json stems) {
        return call(9, {{"songId", 50}, {"tempo", 100}, {"isPlayAudio", true}, {"audioFiles", std::move(stems)}});
    };

    EXPECT_EQ(prepare(json{stem("missing.mp3", 1)})["code"], 0);
    EXPECT_FALSE(SongObject::shared().isAudio);
    EXPECT_FALSE(SongObject::shared().midiData.get()->empty()) << "prepared as a MIDI song";

    const json failed = prepare(json{stem("noise.mp3", 1)});
    EXPECT_EQ(failed["code"], -1);
    EXPECT_EQ(failed["message"], "Audio error");

    const json ready = prepare(json{stem("tone.mp3", 1)});
    EXPECT_EQ(ready["code"], 0) << ready;
    EXPECT_TRUE(SongObject::shared().isAudio);
    EXPECT_TRUE(SongObject::shared().midiData.get()->empty()) << "no MIDI file is read for a stem song";
    EXPECT_EQ(call(55, {{"audioVolumes", json{{{"instrumentId", 1}, {"volume", 250}}, 7}}})["code"], 0);
    ASSERT_EQ(call(12, {{"songId", 50}, {"startTime", utcTextIn(200ms)}, {"accompanimentVolume", 80}})["code"], 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(StemsPlayer::shared().isPlaying());
    EXPECT_EQ(call(10)["code"], 0);
    EXPECT_FALSE(StemsPlayer::shared().isPlaying());
}

// Nothing can sound: the output closes at the next check. A preparation or a play opens it
// before it is answered, and a prepared play keeps it open.
TEST_F(PlaybackFlowTest, TheOutputRestsWhileNothingCanSoundAndOpensBeforeAPlayIsAnswered) {
    startDevices();
    cache(32, twoTrackSong());
    ASSERT_TRUE(test::eventually([this] { return resting(); }));
    EXPECT_FALSE(SoundSystem::shared().engine().isRunning());
    ASSERT_EQ(call(9, {{"songId", 32}, {"tempo", 120}})["code"], 0);
    EXPECT_TRUE(SoundSystem::shared().engine().isRunning());
    EXPECT_FALSE(test::eventually([this] { return resting(); }, 2500ms)) << "closed while a play is prepared";
    EXPECT_EQ(call(10)["code"], 0);
    ASSERT_TRUE(test::eventually([this] { return resting(); }));
    ASSERT_EQ(call(12, {{"songId", 32}, {"startTime", utcTextIn(100ms)}})["code"], 0);
    EXPECT_TRUE(SoundSystem::shared().engine().isRunning());
}

// Keys of any type are in the hostile tests; here what the volumes read back.
TEST_F(PlaybackFlowTest, VolumesAreRefusedBelowZeroAndReadBackAsSet) {
    for (const int method : {56, 57, 59}) {
        EXPECT_EQ(call(method, {{"metronomeVolume", -5}, {"instrumentVolume", -5}, {"countOffVolume", -5}}),
                  json({{"message", "The volume cannot be negative"}, {"code", -1}}));
    }
    EXPECT_EQ(call(56, {{"metronomeVolume", 250}})["code"], 0);
    EXPECT_EQ(call(55, {{"accompanimentVolume", 1e12}})["code"], 0);
    EXPECT_EQ(call(55, {{"accompanimentVolume", -1}, {"instrumentVolumes", json::array({{{"channel", 1}, {"volume", 5}}})}})["code"], -1);
    EXPECT_EQ(call(55, {{"instrumentVolumes", json::array({"x", {{"channel", 99}}, {{"channel", 1}, {"volume", -40}}})}})["code"], 0);
    EXPECT_EQ(call(55, json::object()), json({{"message", "No volume data"}, {"code", -1}}));
    const json volumes = call(58);
    EXPECT_EQ(volumes["metronomeVolume"], 250);
    EXPECT_EQ(volumes["accompanimentVolume"], 100);
    EXPECT_EQ(volumes["virtualPianoSoundVolume"], 0) << "no user yet";
}

}  // namespace
}  // namespace kv

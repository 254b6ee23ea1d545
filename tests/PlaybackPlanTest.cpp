#include "playback/ClickPlan.h"
#include "playback/MetronomePlan.h"
#include "midifile/MidiFileCheck.h"
#include "playback/MidiSongReader.h"
#include "playback/PlayMidiMessage.h"
#include "playback/PlaySongLogic.h"
#include "playback/SongTiming.h"

#include "base/HostClock.h"
#include "base/Numbers.h"
#include "platform/dispatch/SerialQueue.h"
#include "support/RecordingReceiver.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <utility>

namespace kv {
namespace {

using nlohmann::json;

TEST(SongTiming, TheRequestedTempoOrTheScaledMapTimesTheFile) {
    const SongTiming ninety(json::array(), false, 90, 480);
    EXPECT_NEAR(ninety.millisecondsAtTick(960), 1333.333, 0.001) << "the file's own tempi take no part";
    EXPECT_NEAR(SongTiming(json::array(), false, 0, 480).millisecondsAtTick(960), 1000, 1e-9) << "no tempo: 120";

    const json map = json::array({{{"quarterPos", 0}, {"bpm", 60}}, {{"quarterPos", 4}, {"bpm", 120}}});
    const SongTiming mapped(map, true, 120, 480);
    ASSERT_EQ(mapped.points().size(), 2u);
    EXPECT_EQ(mapped.points()[1].tick, 4 * 480);
    EXPECT_EQ(mapped.points()[1].bpm, 240);
    EXPECT_NEAR(mapped.millisecondsAtTick(4 * 480), 2000, 1e-9);
    EXPECT_NEAR(mapped.millisecondsAtTick(6 * 480), 2500, 1e-9);

    // A first entry without a tempo: no scale, dropped, and the requested tempo leads at quarter 0.
    const json silentFirst = json::array({{{"quarterPos", 0}, {"bpm", 0}}, {{"quarterPos", 2}, {"bpm", 60}}});
    const SongTiming led(silentFirst, true, 100, 480);
    ASSERT_EQ(led.points().size(), 2u);
    EXPECT_EQ(led.points()[0].bpm, 100);
    EXPECT_EQ(led.points()[1].bpm, 60);
    EXPECT_NEAR(led.millisecondsAtTick(3 * 480), 1200 + 1000, 1e-9);

    // Unsorted entries are sorted; a hundred thousand of them cost a search per event, not a walk.
    json many = json::array();
    for (int i = 100000; i > 0; --i) many.push_back({{"quarterPos", i}, {"bpm", 120}});
    const SongTiming large(many, true, 120, 480);
    EXPECT_NEAR(large.millisecondsAtTick(480.0 * 100000), 50'000'000, 1e-3);
}

TEST(MetronomePlan, ATempoMapPlacesEveryClickWithItsAccent) {
    MetronomeSong song;
    song.tempoMap = json::array({{{"quarterPos", 0}, {"bpm", 60}}, {{"quarterPos", 4}, {"bpm", 120}}});
    song.tempoMapEnabled = true;
    song.beat = 4;
    song.beatType = 4;
    song.tempo = 60;
    song.endMs = 1e9;
    const auto beats = buildMetronomeBeatOffsetsRealSeconds(song);
    ASSERT_TRUE(beats);
    const std::vector<double> firstOffsets(beats->offsets.begin(), beats->offsets.begin() + 7);
    EXPECT_EQ(firstOffsets, (std::vector<double>{0, 1, 2, 3, 4, 4.5, 5}));
    const std::vector<double> firstVolumes(beats->volumes.begin(), beats->volumes.begin() + 9);
    EXPECT_EQ(firstVolumes, (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(beats->offsets.size(), 500000u) << "at most half a million clicks";

    // A meter change at quarter 4 to 6/8: dotted-quarter clicks, two a bar.
    song.endMs = 8000;
    song.timeSignatureMap = json::array({{{"quarterPos", 0}, {"beat", 4}, {"beatType", 4}},
                                         {{"quarterPos", 4}, {"beat", 6}, {"beatType", 8}}});
    const auto compound = buildMetronomeBeatOffsetsRealSeconds(song);
    ASSERT_TRUE(compound);
    EXPECT_DOUBLE_EQ(compound->offsets[5] - compound->offsets[4], 0.75);
    EXPECT_EQ(compound->volumes[4], 1);
    EXPECT_EQ(compound->volumes[5], 0);
    EXPECT_EQ(compound->volumes[6], 1);

    song.tempo = 0;
    EXPECT_FALSE(buildMetronomeBeatOffsetsRealSeconds(song));
    EXPECT_NEAR(effectiveMsAtQuarter(6, song.tempoMap, 1), 5000, 1e-9);
}

// Tick times from the song's start and their accents, for the first six ticks.
TEST(ClickPlan, ABeatListIsFollowedThenContinuedAtItsLastSpacingElseTheIntervalAndTheMeter) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        ClickPlan plan;
        std::vector<double> seconds;
        std::vector<bool> accents;
    };
    const std::vector<Case> table = {
        {"an interval", ClickPlan::of(0.5, std::nullopt, 1, 0), {0, 0.5, 1, 1.5, 2, 2.5}, {1, 1, 1, 1, 1, 1}},
        {"too short an interval", ClickPlan::of(0.05, std::nullopt, 1, 0), {0, 0.1, 0.2, 0.3, 0.4, 0.5}, {1, 1, 1, 1, 1, 1}},
        {"no number", ClickPlan::of(nan, std::nullopt, 1, 0), {0, 0.1, 0.2, 0.3, 0.4, 0.5}, {1, 1, 1, 1, 1, 1}},
        {"an hour", ClickPlan::of(3600, std::nullopt, 1, 0), {0, 60, 120, 180, 240, 300}, {1, 1, 1, 1, 1, 1}},
        {"four beats from the third", ClickPlan::of(1, std::nullopt, 4, 2), {0, 1, 2, 3, 4, 5}, {0, 0, 1, 0, 0, 0}},
        {"a beat list", ClickPlan::of(9, MetronomeBeats{{0, 0.5, 1.25}, {1, 0, 0}}, 4, 0), {0, 0.5, 1.25, 2, 2.75, 3.5},
         {1, 0, 0, 1, 1, 1}},
        {"one beat is no list", ClickPlan::of(1, MetronomeBeats{{7}, {0}}, 2, 0), {0, 1, 2, 3, 4, 5}, {1, 0, 1, 0, 1, 0}},
    };
    for (const auto& [name, plan, seconds, accents] : table) {
        for (std::uint64_t tick = 0; tick < 6; ++tick) {
            EXPECT_DOUBLE_EQ(plan.secondsOf(tick), seconds[tick]) << name << " tick " << tick;
            EXPECT_EQ(plan.accented(tick), accents[tick]) << name << " tick " << tick;
        }
    }
}

TEST(PlaySongLogic, TheMeterSetsTheAccents) {
    EXPECT_EQ(PlaySongLogic::metronomeMeter(6, 8, 1).beatsPerMeasure, 2);
    EXPECT_EQ(PlaySongLogic::metronomeMeter(4, 4, 3).startBeatOffset, 2);
    EXPECT_EQ(PlaySongLogic::metronomeMeter(3, 4, 1).startBeatOffset, 0);
    EXPECT_EQ(PlaySongLogic::metronomeMeter(4, 4, 0).startBeatOffset, 3) << "the remainder keeps the dividend's sign";
    EXPECT_EQ(PlaySongLogic::metronomeMeter(1, 4, 5).beatsPerMeasure, 1);
}

using test::Recorded;
using test::Sent;

// Everything the synthesizer was sent until all notes were stopped.
std::vector<Sent> untilStopped(test::RecordingReceiver& receiver) {
    return receiver.sent.waitUntil([](const auto& all) {
        return std::any_of(all.begin(), all.end(), [](const Sent& s) { return s.allSoundOff(); });
    });
}

class RecordingClicks : public ClickSound {
public:
    void click(bool accented, std::uint64_t hostTime) override { clicks.add({accented, hostTime}); }
    Recorded<std::pair<bool, std::uint64_t>> clicks;
};

// One note a group, on channel 0, the groups `spacingMs` apart, the song starting `leadMs` from now.
const std::atomic<std::int32_t> kFullVolume{100};

PlayPlan planOf(MidiReceiver& receiver, int groups, double spacingMs, std::int32_t first, std::int32_t last,
                double leadMs) {
    auto list = std::make_shared<std::vector<MidiPlayList>>();
    for (int i = 0; i < groups; ++i) {
        list->push_back({i * spacingMs, {MidiMessage{i * spacingMs, 0, 0, 0, {0x90, 60 + i, 100}}}});
    }
    PlayPlan plan;
    plan.songStartHost = plan.startHost = host_clock::now() + nanosFromMillis(leadMs);
    plan.groups = std::move(list);
    plan.first = first;
    plan.last = last;
    plan.synthesizers = {{0, std::make_shared<PlayMidiMessage>(&receiver, kFullVolume)}};
    return plan;
}

TEST(PlaySongLogic, TheRangeIsHandedOverOnItsTimesAndEndsWhereTheNextGroupWouldBegin) {
    test::RecordingReceiver receiver;
    SerialQueue queue("PlayTest");
    const PlayPlan plan = planOf(receiver, 4, 100, 1, 2, 500);
    const std::uint64_t song = plan.songStartHost;
    const auto play = std::make_shared<PlaySongLogic>(plan, kFullVolume);
    play->start(queue);

    std::vector<std::pair<int, std::uint64_t>> notes;
    std::uint64_t stoppedAt = 0;
    for (const auto& sent : untilStopped(receiver)) {
        if (sent.command == 0x90) notes.emplace_back(sent.data1, sent.hostTime);
        if (sent.allSoundOff() && !stoppedAt) stoppedAt = sent.arrived;
    }
    const std::vector<std::pair<int, std::uint64_t>> expected{{61, song}, {62, song + nanosFromMillis(100)}};
    EXPECT_EQ(notes, expected) << "the range's groups, each at its time from the range's first";
    EXPECT_GE(stoppedAt, song + nanosFromMillis(200)) << "the notes sound until the group after the range";
}

// The clicks share the song's timeline: from its start, after a count-off, those already past at
// the start skipped, none once stopped. A stopped performance lets go of what it holds at once,
// though its next group is a minute away.
TEST(PlaySongLogic, TheClicksRunOnTheSongsTimelineFromItsStartUntilTheStop) {
    test::RecordingReceiver receiver;
    RecordingClicks clicks;
    SerialQueue queue("PlayTest");
    PlayPlan plan = planOf(receiver, 2, 60'000, 0, 1, 0);
    const std::uint64_t song = host_clock::now() - nanosFromMillis(300);  // ticks 0, 1 and 2 are past
    plan.songStartHost = song;
    plan.startHost = song - nanosFromMillis(1000);
    plan.clicks = ClickPlan::of(0.125, std::nullopt, 2, 0);
    plan.clickSound = &clicks;
    auto play = std::make_shared<PlaySongLogic>(std::exchange(plan, {}), kFullVolume);
    const std::weak_ptr<PlaySongLogic> performance = play;
    play->start(queue);
    clicks.clicks.waitUntil([](const auto& all) { return all.size() >= 5; });
    play->stop();
    play.reset();
    const auto sent = untilStopped(receiver);  // the synthesizer handle stops every note as it goes
    EXPECT_TRUE(performance.expired());
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const Sent& s) { return s.command == 0x90; }), 0)
        << "a note past at the start is not played late, and the one a minute away never";

    const auto heard = clicks.clicks.all();
    queue.sync([] {});
    EXPECT_EQ(clicks.clicks.all().size(), heard.size()) << "nothing is handed over after the stop";
    const std::uint64_t firstTick = (heard[0].second - song) / nanosFromMillis(125);
    EXPECT_GE(firstTick, 3u) << "the ticks before the play started are skipped";
    for (std::size_t i = 0; i < heard.size(); ++i) {
        const std::uint64_t tick = firstTick + i;
        EXPECT_EQ(heard[i].second, song + tick * nanosFromMillis(125)) << i;
        EXPECT_EQ(heard[i].first, tick % 2 == 0) << i;
    }
}

TEST(MidiSongReader, ThePositionGoesToTheNearestGroupATieToTheLater) {
    std::vector<MidiPlayList> groups(3);
    groups[0].startTime = 100;
    groups[1].startTime = 200;
    groups[2].startTime = 300;
    EXPECT_EQ(MidiSongReader::getIndexFromMidi({}, 50), 0);
    EXPECT_EQ(MidiSongReader::getIndexFromMidi(groups, 0), 0);
    EXPECT_EQ(MidiSongReader::getIndexFromMidi(groups, 200), 1);
    EXPECT_EQ(MidiSongReader::getIndexFromMidi(groups, 240), 1);
    EXPECT_EQ(MidiSongReader::getIndexFromMidi(groups, 250), 2);
    EXPECT_EQ(MidiSongReader::getIndexFromMidi(groups, 260), 2);
    EXPECT_EQ(MidiSongReader::getIndexFromMidi(groups, 1000), 2);
}

// Found by the song fuzzer: a set-tempo event one byte long holds together as a file, and STK
// reads its three tempo bytes with a checked index, which throws.
TEST(MidiSongReader, AFileItsReaderCannotReadIsRefusedNotThrown) {
    const std::vector<std::uint8_t> file = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0x27, 0x00, 0xFF, 0x51, 0x01,
        0x76, 0xA1, 0x20, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4,
        0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08, 0x00, 0xC0, 0x00, 0x00, 0xB3, 0xAB, 0x40, 0x00, 0x00};
    ASSERT_TRUE(isWellFormedMidiFile(file));
    test::TempDirectory folder;
    const auto path = folder.path() / "song.mid";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    const std::atomic<bool> stopPrepare{false};
    EXPECT_FALSE(MidiSongReader::read(path, file, SongTiming(json::array(), false, 120, 480), stopPrepare));
}

}  // namespace
}  // namespace kv

#include "playback/CountOff.h"
#include "playback/PrepareSongData.h"
#include "playback/SongObject.h"

#include "platform/audio/OfflineAudioDevice.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kv {
namespace {

std::vector<std::string> keys(std::int32_t ticks, std::int32_t beat, std::int32_t beatType, std::int32_t startBeat) {
    std::vector<std::string> names;
    for (const auto number : countOffSoundNumbers(ticks, beat, beatType, startBeat)) {
        names.push_back(number == 25 ? "click" : getCountOffSoundKey(number));
    }
    return names;
}

TEST(CountOff, MetersAndCounts) {
    for (const auto& [beat, type] : std::vector<std::pair<int, int>>{{6, 8}, {9, 8}, {12, 8}, {3, 8}, {9, 16}, {7, 8}, {6, 2}}) {
        EXPECT_TRUE(isCompoundWithBeat(beat, type)) << beat << "/" << type;
    }
    for (const auto& [beat, type] : std::vector<std::pair<int, int>>{{6, 4}, {5, 8}, {3, 4}, {4, 4}}) {
        EXPECT_FALSE(isCompoundWithBeat(beat, type)) << beat << "/" << type;
    }
    // (start beat, beat, beat type, buffer measures) → ticks
    for (const auto& [startBeat, beat, type, measures, ticks] : std::vector<std::tuple<int, int, int, int, int>>{
             {1, 2, 2, 1, 5}, {2, 2, 2, 1, 7}, {1, 6, 4, 1, 5}, {2, 6, 4, 1, 6}, {3, 6, 4, 1, 5}, {4, 6, 4, 1, 9},
             {0, 6, 4, 1, 0}, {3, 3, 4, 1, 6}, {1, 6, 8, 2, 13}}) {
        EXPECT_EQ(getNumberCountOfBeatWithStartBeat(startBeat, beat, type, measures), ticks) << startBeat << " " << beat << "/" << type;
    }
    EXPECT_FLOAT_EQ(getTickSpacingWithTempo(120, 4, 4), 500.0F);
    EXPECT_FLOAT_EQ(getTickSpacingWithTempo(120, 6, 8), 250.0F);
    EXPECT_FLOAT_EQ(getTickSpacingWithTempo(120, 2, 2), 500.0F);
}

TEST(CountOff, TheServicesPlansByMeter) {
    using V = std::vector<std::string>;
    EXPECT_EQ(keys(4, 4, 4, 1), (V{"oneSound", "twoSound", "setSound", "goSound"}));
    EXPECT_EQ(keys(5, 3, 4, 3), (V{"oneSound", "twoSound", "threeSound", "setSound", "goSound"}));
    EXPECT_EQ(keys(12, 6, 8, 1), (V{"oneSound", "click", "click", "twoSound", "click", "click", "setSound", "click",
                                    "click", "goSound", "click", "click"}));
    EXPECT_EQ(keys(4, 2, 2, 1), (V{"setSound", "click", "goSound", "click"}));
    EXPECT_EQ(keys(3, 4, 4, 3), (V{"oneSound", "setSound", "goSound"}));
    EXPECT_EQ(keys(9, 5, 4, 5), (V{"oneSound", "twoSound", "threeSound", "fourSound", "fiveSound", "oneSound",
                                   "twoSound", "setSound", "goSound"}));
    const auto twelveEight = keys(24, 12, 8, 1);
    const V counted = {"oneSound", "twoSound", "threeSound", "fourSound", "oneSound", "twoSound", "setSound", "goSound"};
    ASSERT_EQ(twelveEight.size(), 24u);
    for (std::size_t beat = 0; beat < counted.size(); ++beat) {
        EXPECT_EQ(twelveEight[beat * 3], counted[beat]);
        EXPECT_EQ(twelveEight[beat * 3 + 1], "click");
        EXPECT_EQ(twelveEight[beat * 3 + 2], "click");
    }
    EXPECT_TRUE(keys(0, 4, 4, 1).empty());
}

// Planning against the song record with sounds loaded on an offline engine.
class PrepareCountOffTest : public ::testing::Test {
protected:
    PrepareCountOffTest() : engine_(std::make_unique<OfflineAudioDevice>()) {
        auto sound = std::make_shared<const AudioBuffer>(AudioBuffer{std::vector<float>(20, 0.1F)});
        CountOffSounds sounds;
        for (const char* key : {"oneSound", "twoSound", "threeSound", "setSound", "goSound", "metronomeSound"}) {
            sounds[key] = std::make_shared<KeyvoraAudio>(sound, engine_);
            named_[sounds[key].get()] = key;
        }
        SongObject::shared().countOffSoundCollection.set(sounds);
    }

    std::vector<std::string> planned() {
        std::vector<std::string> names;
        for (const auto& tick : SongObject::shared().countOff.get().ticks) names.push_back(named_[tick.sound.get()]);
        return names;
    }
    // Each tick's time and the spacing after it, in ms.
    static std::vector<std::pair<double, double>> times() {
        std::vector<std::pair<double, double>> at;
        for (const auto& tick : SongObject::shared().countOff.get().ticks) at.emplace_back(tick.atMs, tick.spacingMs);
        return at;
    }

    AudioEngine engine_;
    std::map<const KeyvoraAudio*, std::string> named_;
    SharedObject<SongObject> song_;  // after the engine: its sounds go first
};

TEST_F(PrepareCountOffTest, ThePluginPlansFourFourFromTheTicksTable) {
    auto& song = SongObject::shared();
    song.playBeat = 4;
    song.playBeatType = 4;
    song.playStartBeat = 1;
    song.play8Note = 1;
    song.playTempo = 120;
    PrepareSongData::prepareCountOff(*song_, {});
    EXPECT_EQ(song.playNumberOfTicks, 4);
    EXPECT_DOUBLE_EQ(song.playTickSpacing, 500.0);
    EXPECT_EQ(planned(), (std::vector<std::string>{"oneSound", "twoSound", "setSound", "goSound"}));
    EXPECT_EQ(times(), (std::vector<std::pair<double, double>>{{0, 500}, {500, 500}, {1000, 500}, {1500, 500}}));
    EXPECT_EQ(song.countOff.get().lengthMs, 2000) << "planned by the service, the song waits for it too";

    song.playBeat = 6;
    song.playBeatType = 8;
    PrepareSongData::prepareCountOff(*song_, {});
    EXPECT_EQ(song.playNumberOfTicks, 12);  // compound at 120: two buffer measures
    EXPECT_EQ(planned().size(), 12u);

    song.playTempo = 0;  // counted off as the song is timed: at 120
    PrepareSongData::prepareCountOff(*song_, {});
    EXPECT_DOUBLE_EQ(song.playTickSpacing, 250.0);
    song.playBeat = 2147483647;  // a meter no song has: a bounded count-off, no overflow
    song.playBeatType = 0;
    song.playStartBeat = 2147483647;
    PrepareSongData::prepareCountOff(*song_, {});
    EXPECT_EQ(song.playNumberOfTicks, 128);
    EXPECT_DOUBLE_EQ(song.playTickSpacing, 500.0);
    song.playStartBeat = -2147483647 - 1;
    PrepareSongData::prepareCountOff(*song_, {});
    EXPECT_EQ(song.playNumberOfTicks, 0);
    EXPECT_TRUE(planned().empty());
}

TEST_F(PrepareCountOffTest, TheWebApplicationsKeysWinAndUnknownKeysAreLeftOut) {
    PrepareSongData::prepareCountOff(*song_, {"oneSound", "noSuchSound", "goSound"});
    EXPECT_EQ(SongObject::shared().playNumberOfTicks, 2);
    EXPECT_EQ(planned(), (std::vector<std::string>{"oneSound", "goSound"}));
}

// With the web application's times, each tick comes at the spacings before it, a tick past them
// keeping the last; any number is bounded.
TEST_F(PrepareCountOffTest, TheCountOffIsAListOfTimesAndItsLengthIsWhereTheSongStarts) {
    auto& song = SongObject::shared();
    song.playTickSpacing = 300;
    PrepareSongData::prepareCountOff(*song_, {"oneSound", "twoSound", "threeSound"}, {100, 1e300});
    EXPECT_EQ(times(), (std::vector<std::pair<double, double>>{{0, 100}, {100, 10000}, {10100, 10000}}));
    PrepareSongData::prepareCountOff(*song_, {"oneSound", "twoSound"}, {-5, std::nan("")});
    EXPECT_EQ(song.countOff.get().lengthMs, 0);
    PrepareSongData::prepareCountOff(*song_, {"oneSound", "twoSound"});
    EXPECT_EQ(song.countOff.get().lengthMs, 600);
}

}  // namespace
}  // namespace kv

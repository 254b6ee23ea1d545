#include "leds/KVLedScheduler.h"
#include "leds/LedPortMatch.h"
#include "platform/midi/MidiPortList.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

using nlohmann::json;

std::optional<LedPortMatch> match(const std::vector<std::string>& names, const std::string& rawName) {
    std::vector<MidiPortInfo> ports;
    for (unsigned i = 0; i < names.size(); ++i) ports.push_back({i + 10, names[i], names[i]});
    return matchLedPort(ports, rawName);
}

TEST(LedPortMatch, ExactBeatsContainedBeatsPrefix) {
    auto chosen = match({"Digital Piano MIDI 1", "Digital Piano", "Digital Piano"}, "Digital Piano");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->index, 12u) << "a later exact match replaces an earlier one";

    chosen = match({"Other", "Digital Piano MIDI 1", "Piano"}, "Digital Piano");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->index, 11u) << "the first name containing the raw name or contained in it";
}

TEST(LedPortMatch, APrefixNeedsFourCharactersAndTheFirstLongestWins) {
    EXPECT_FALSE(match({"Digx", "DigYY"}, "Digital Keys"));
    auto chosen = match({"Digx", "digitaL X", "DIGITAL Y"}, "Digital Keys");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->index, 11u);
    EXPECT_FALSE(match({}, "Digital Keys"));
    EXPECT_FALSE(match({""}, "Digital Keys"));
}

TEST(LedPortMatch, AlikeKeyboardsPairByTheirRankAmongPortsOfOneName) {
    // Two keyboards of one model under JACK: each of their clients numbered by the server.
    const std::vector<MidiPortInfo> outputs = {{4, "Keys-01:Keys", "Keys:Keys"}, {6, "Keys-03:Keys", "Keys:Keys"}};
    auto chosen = matchLedPort(outputs, "Keys-02:Keys", {"Keys:Keys", 1, 2});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->rawName, "Keys-03:Keys") << "the second input pairs with the second output";
    EXPECT_EQ(matchLedPort(outputs, "Keys:Keys", {"Keys:Keys", 0, 2})->rawName, "Keys-01:Keys");
    EXPECT_EQ(matchLedPort(outputs, "Keys-02:Keys")->rawName, "Keys-01:Keys") << "alone, by prefix";
}

TEST(MidiPortNames, StayTheSameWhenTheSystemRenumbersAKeyboard) {
    EXPECT_EQ(stablePortName(RtMidi::LINUX_ALSA, "Keys:Keys MIDI 1 20:0"), "Keys:Keys MIDI 1");
    EXPECT_EQ(stablePortName(RtMidi::LINUX_ALSA, "Keys:Keys MIDI 1 128:12"), "Keys:Keys MIDI 1");
    EXPECT_EQ(stablePortName(RtMidi::LINUX_ALSA, "Keys 2000"), "Keys 2000");
    EXPECT_EQ(stablePortName(RtMidi::UNIX_JACK, "Keys-01:Keys"), "Keys:Keys");
    EXPECT_EQ(stablePortName(RtMidi::UNIX_JACK, "Keys:Keys-01"), "Keys:Keys-01");
    EXPECT_EQ(stablePortName(RtMidi::UNIX_JACK, "Keys-1:Keys"), "Keys-1:Keys");
}

TEST(LedPlan, EntriesOffTheKeyboardOrNotObjectsAreDroppedAndWindowsMadeSensible) {
    const json ledNotes = json::array({
        {{"note", 20}, {"time", 1}},
        {{"note", 109}, {"time", 1}},
        "not an object",
        {{"note", 21}, {"staff", 0}, {"flashFrom", 900}, {"time", 500}, {"offTime", 500}},
        {{"note", "108"}, {"staff", "1"}, {"flashFrom", "1e2"}, {"time", "abc"}, {"offTime", nullptr}},
        {{"note", 60}, {"flashFrom", "nan"}, {"time", 1e308}, {"offTime", true}},
    });
    const auto plan = KVLedScheduler::parsePlan(ledNotes);
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].note, 21);
    EXPECT_DOUBLE_EQ(plan[0].flashFrom, 500) << "a window after its time starts at the time";
    EXPECT_DOUBLE_EQ(plan[0].offTime, 501) << "a light that does not outlast its time lasts 1 ms";
    EXPECT_EQ(plan[1].note, 108);
    EXPECT_EQ(plan[1].staff, 1);
    EXPECT_DOUBLE_EQ(plan[1].time, 0) << "a time that is not a number reads 0";
    EXPECT_DOUBLE_EQ(plan[1].flashFrom, 0);
    EXPECT_DOUBLE_EQ(plan[1].offTime, 1);
    EXPECT_DOUBLE_EQ(plan[2].flashFrom, 0);
    EXPECT_DOUBLE_EQ(plan[2].offTime, 1e308 + 1.0);

    EXPECT_TRUE(KVLedScheduler::parsePlan(json::object({{"note", 60}})).empty());
    EXPECT_TRUE(KVLedScheduler::parsePlan("ledNotes").empty());
    // The right hand's staff lights in the second colour, every other staff in the first.
    EXPECT_EQ(std::vector<int>({KVLedScheduler::colorForStaff(0), KVLedScheduler::colorForStaff(1), KVLedScheduler::colorForStaff(-3)}),
              std::vector<int>({1, 0, 0}));
}

}  // namespace
}  // namespace kv

#include "base/HostClock.h"
#include "core/KeyvoraFlow.h"
#include "midi/MidiManagerHandler.h"
#include "platform/dispatch/MainQueue.h"
#include "store/DeviceHelper.h"
#include "store/UserHelper.h"

#include "support/InProcessService.h"
#include "support/RawWsPeer.h"
#include "support/RecordingReceiver.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <set>
#include <tuple>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A message as the MIDI input hands it on, arrived now or at the host time given, and taken
// on the main queue.
void message(std::vector<unsigned char> bytes, std::uint64_t arrival = host_clock::now()) {
    MidiManagerHandler::shared().RecordingCallback(bytes.data(), bytes.size(), arrival);
    Shared<MainQueue>::get().sync([] {});
}
void press(int key, int velocity = 100, std::uint64_t arrival = host_clock::now()) {
    message({0x90, static_cast<unsigned char>(key), static_cast<unsigned char>(velocity)}, arrival);
}
void release(int key) {
    message({0x80, static_cast<unsigned char>(key), 64});
}

// The browser's side of the played keys: flows answered, notes pushed.
class MidiFlowTest : public test::InProcessService {
protected:
    void SetUp() override {
        port_ = startService();
        call(1);  // the browser becomes the connection pushes go to
    }

    static void userWithVolume(std::int32_t volume) {
        User user;
        user.Id = 9;
        user.speakerPcVelocity = volume;
        KeyvoraFlow::shared().currentUser.set(user);
    }

    // The answer must be the next message: a push before it fails the test.
    json callWith(int methodName, json data = nullptr, const std::string& version = "") {
        json text = test::request(methodName, "f", std::move(data));
        if (!version.empty()) text["version"] = version;
        browser().sendText(text.dump());
        const json answer = next();
        EXPECT_EQ(answer.value("methodName", 0), methodName) << answer;
        return answer.value("data", json());
    }

    std::uint16_t port_ = 0;
};

TEST_F(MidiFlowTest, KeyRangeIsStoredOnTheCurrentDevicesRecordAndShowsInTheList) {
    Device record;
    record.deviceId = record.deviceName = "Keys";
    ASSERT_TRUE(DeviceHelper(Database::shared()).insertDevice(record));
    auto current = std::make_shared<MidiDevice>();
    current->name = current->deviceId = "Keys";
    auto other = std::make_shared<MidiDevice>();
    other->name = other->deviceId = "Other";
    KeyvoraFlow::shared().listDevices.set({other, current});
    KeyvoraFlow::shared().currentMidiDevice.set(current);

    json answer = callWith(14, {{"LowestNote", {{"pitch", "A"}, {"octave", 0}}},
                                {"HighestNote", {{"pitch", "C"}, {"octave", "8"}}}});
    EXPECT_EQ(answer, json({{"code", 0}, {"message", "SUCCESS"}}));
    auto stored = DeviceHelper(Database::shared()).getDeviceByName("Keys");
    EXPECT_EQ(stored->lowestNote, 21);
    EXPECT_EQ(stored->highestNote, 108);
    EXPECT_EQ(stored->modifiedDate.size(), 19u);
    const json listed = callWith(3);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]["deviceName"], "Keys") << "the current device first";
    EXPECT_EQ(listed[0]["lowestNote"], 21) << "the listed device is the current one";
    EXPECT_EQ(listed[0]["highestNote"], 108);
    EXPECT_EQ(listed[1]["highestNote"], 0);

    // A pitch that is no note name is C; an octave at the ends of 32 bits is held, not wrapped.
    for (const auto& [low, high, lowest, highest] : std::vector<std::tuple<json, json, int, int>>{
             {{{"pitch", "H"}, {"octave", 3}}, {{"pitch", 7}, {"octave", 5}}, 48, 72},
             {{{"pitch", "B"}, {"octave", 2147483647}}, {{"pitch", "C"}, {"octave", -2147483647 - 1}}, 2147483647, -2147483647 - 1}}) {
        callWith(14, {{"LowestNote", low}, {"HighestNote", high}});
        stored = DeviceHelper(Database::shared()).getDeviceByName("Keys");
        EXPECT_EQ(stored->lowestNote, lowest);
        EXPECT_EQ(stored->highestNote, highest);
    }
    for (const json& bad : {json({{"LowestNote", {{"pitch", "A"}, {"octave", 0}}}}),
                            json({{"LowestNote", "A0"}, {"HighestNote", {{"pitch", "C"}}}}),
                            json({{"LowestNote", json::array({1})}, {"HighestNote", 5}})}) {
        EXPECT_EQ(callWith(14, bad), json({{"code", -1}, {"message", "Can not parse lowestNote or highestNote"}}));
    }
    current->name = "Nope";
    EXPECT_EQ(callWith(14, {{"LowestNote", json::object()}, {"HighestNote", json::object()}}),
              json({{"code", -1}, {"message", "Device did not available in database"}}));
}

TEST_F(MidiFlowTest, TheVirtualPianoIsOnWhenSpeakerPcIsPresentAtAll) {
    auto update = [&](const std::string& clientID, json data) {
        return call({{"methodName", 23}, {"clientID", clientID}, {"token", "t"}, {"data", data}});
    };
    EXPECT_EQ(update("5", {{"speakerPc", false}, {"virtualPianoSoundVolume", "65"}})["code"], 0);
    auto user = UserHelper(Database::shared()).getUserByID("5");
    ASSERT_TRUE(user);
    EXPECT_TRUE(user->speakerPc);
    EXPECT_EQ(user->speakerPcVelocity, 65);
    EXPECT_EQ(user->token, "t");
    EXPECT_EQ(KeyvoraFlow::shared().currentUser.get()->Id, 5);

    EXPECT_EQ(update("5", {{"virtualPianoSoundVolume", 30}})["code"], 0);
    user = UserHelper(Database::shared()).getUserByID("5");
    EXPECT_FALSE(user->speakerPc);
    EXPECT_EQ(user->speakerPcVelocity, 30);

    EXPECT_EQ(update("1abc", {{"speakerPc", 1}}), json({{"code", -1}, {"message", "insert User is fail"}}));
    EXPECT_FALSE(UserHelper(Database::shared()).getUserByID("1"));
}

TEST_F(MidiFlowTest, DeviceSettingKeepsOnlyTheLatestPressForOnePoll) {
    userWithVolume(100);
    EXPECT_EQ(callWith(27)["code"], 0);
    press(60, 127);
    press(62, 127);
    release(62);
    json answer = callWith(29);
    EXPECT_EQ(answer["code"], 0);
    EXPECT_EQ(answer["note"], json({{"pitch", "D"}, {"octave", 4}}));
    EXPECT_FLOAT_EQ(answer["percent"].get<float>(), 100.0F);
    EXPECT_EQ(callWith(29), json({{"message", "DO NOT HAVE MIDI MESSAGE"}, {"code", -1}}));
    EXPECT_EQ(callWith(28)["code"], 0);
    press(64);
    EXPECT_EQ(callWith(29)["code"], -1) << "idle records nothing";
}

// No user reads as volume 0; a volume is stored as sent, never clamped: the products saturate.
TEST_F(MidiFlowTest, VelocityIsScaledByTheUsersVolume) {
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kDeviceSetting;
    const std::vector<std::tuple<std::optional<std::int32_t>, int, int>> table = {
        {100, 127, 127}, {100, 37, 37}, {50, 127, 63}, {50, 100, 49}, {0, 127, 0}, {std::nullopt, 127, 0},
        {2147483647, 127, 2147483647}};
    for (const auto& [volume, velocity, recorded] : table) {
        volume ? userWithVolume(*volume) : KeyvoraFlow::shared().currentUser.set(std::nullopt);
        press(60, velocity);
        EXPECT_EQ(KeyvoraFlow::shared().listMidiEvents.snapshot().at(0).velocity, recorded) << volume.value_or(-1) << " " << velocity;
    }
    EXPECT_GT(callWith(29)["percent"].get<float>(), 0.0F);
}

TEST_F(MidiFlowTest, SingleConnectionSettingPushesPressesOnly) {
    EXPECT_EQ(callWith(53)["code"], 0);
    press(61);
    message({0x93, 61, 0});  // a press of velocity 0 is a release
    release(61);
    press(21);
    const json first = next(1s);
    EXPECT_EQ(first["pitch"], "Csharp");
    EXPECT_EQ(first["octave"], 4);
    EXPECT_EQ(first["isNoteOn"], 1);
    EXPECT_EQ(first["velocity"], 0);
    EXPECT_EQ(first["noteNumber"], 0);
    EXPECT_GE(first["pressTime"].get<int>(), 0);
    EXPECT_LT(first["pressTime"].get<int>(), 5000);
    EXPECT_EQ(next(1s)["pitch"], "A") << "no release in between";
    EXPECT_EQ(callWith(54)["code"], 0);
    press(60);
    EXPECT_TRUE(next(300ms).is_null());
}

TEST_F(MidiFlowTest, WaitModePushesPressesAndReleasesOrKeepsTheLatestForOlderWebApplications) {
    callWith(46);
    press(60);
    release(60);
    EXPECT_EQ(next(1s)["isNoteOn"], 1);
    EXPECT_EQ(next(1s)["isNoteOn"], 0);
    EXPECT_EQ(callWith(48), json({{"code", 0}, {"message", "DO NOT HAVE MIDI MESSAGE"}}));

    callWith(46, nullptr, "oldgen/web");
    press(60);
    release(60);
    const json answer = callWith(48, nullptr, "oldgen/web");  // the next message: nothing was pushed
    ASSERT_EQ(answer["eventList"].size(), 1u);
    const json& event = answer["eventList"][0];
    EXPECT_EQ(event["noteList"], json::array({{{"pitch", "C"}, {"octave", 4}}}));
    EXPECT_EQ(event["isNoteOn"], 0);
    EXPECT_GE(event["time"].get<int>(), 0);
    EXPECT_EQ(callWith(48, nullptr, "oldgen/web")["message"], "DO NOT HAVE MIDI MESSAGE");
    EXPECT_EQ(callWith(47)["code"], 0) << "a pushed key would have come before this answer";
    EXPECT_EQ(KeyvoraFlow::shared().APP_STATE.load(), KeyvoraFlow::kIdle);
}

TEST_F(MidiFlowTest, ASongRecordsEveryPressFromBaseTimeAndEarlyOnesAsZero) {
    auto& session = KeyvoraFlow::shared();
    session.APP_STATE = KeyvoraFlow::kSongPlaying;
    press(60);
    EXPECT_EQ(session.listMidiEvents.size(), 0u) << "nothing before a base time exists";
    session.baseTime.set(Instant::atWallClock(std::chrono::system_clock::now() + 2s));
    press(60);
    session.timeGetNoteEarly = -5000;
    press(62);
    release(62);
    const Instant base = Instant::atWallClock(std::chrono::system_clock::now() - 3s);
    session.baseTime.set(base);
    press(64);
    // The time counts to the key's arrival, however late the routing runs.
    press(65, 100, base.host + 1'234'000'000);
    const auto events = session.listMidiEvents.snapshot();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].pressTime, 0);
    EXPECT_LT(events[1].pressTime, -1000);
    EXPECT_GE(events[2].pressTime, 3000);
    EXPECT_LT(events[2].pressTime, 4000);
    EXPECT_EQ(events[2].noteNumber, 64);
    EXPECT_NEAR(events[3].pressTime, 1234, 1) << "whole milliseconds of each side";
}

TEST_F(MidiFlowTest, SysExAndIncompleteMessagesRecordNothing) {
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kDeviceSetting;
    std::vector<unsigned char> sysex(64 * 1024, 0x22);
    sysex.front() = 0xF0;
    sysex.back() = 0xF7;
    for (const auto& bytes : {sysex, {}, {0x90, 60}, {0x80}, {0xB0, 64, 127}}) message(bytes);
    EXPECT_EQ(KeyvoraFlow::shared().listMidiEvents.size(), 0u);
}

TEST_F(MidiFlowTest, WithoutKeyboardsTheDeviceFlowsAnswerEmptyAndLightsAnswerSuccess) {
    EXPECT_EQ(callWith(3), json::array());
    EXPECT_EQ(callWith(7), json({{"id", ""}, {"deviceName", ""}, {"deviceCount", 0}}));
    EXPECT_EQ(callWith(4, {{"deviceName", "Nope"}}), json({{"code", -1}, {"message", "MIDI DEVICE CAN NOT SAVED"}}));
    EXPECT_EQ(callWith(4, {{"deviceName", json::array()}})["code"], -1);
    for (const json& data : {json::object(), json({{"leds", "60"}}), json({{"leds", json::array({1, "x", nullptr})}}),
                             json({{"leds", json::array({{{"note", 60}, {"staff", "a"}}, {{"note", 500}}})}})}) {
        EXPECT_EQ(callWith(60, data), json({{"message", "SUCCESS"}, {"code", 0}})) << data;
    }
}

// Nothing waits on the main queue or the network meanwhile: another connection opens and its ping
// is answered.
TEST_F(MidiFlowTest, LatencyWaitsTenToElevenSecondsForASongThatDoesNotStart) {
    const auto start = std::chrono::steady_clock::now();
    browser().sendText(test::request(15, "l").dump());
    test::RawWsPeer other(port_);
    ASSERT_TRUE(other.upgraded());
    const auto pinged = std::chrono::steady_clock::now();
    ASSERT_TRUE(other.sendPing("are you there"));
    EXPECT_TRUE(other.receivePong(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - pinged, 2s);
    const json answer = next(15s)["data"];
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answer, json({{"latency", 0.0}, {"code", 0}, {"message", "SUCCESS"}}));
    EXPECT_GE(waited, 9900ms);
    EXPECT_LE(waited, 11500ms);
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kSongPlaying;
    EXPECT_EQ(callWith(15)["code"], 0);
}

class NoLights : public KeyboardLights {
public:
    bool connectKeyboard(const std::string&, const AlikeKeyboard&) override { return false; }
    void disconnectKeyboard() override {}
    void loseMidiSystem() override {}
};

// The echo has its own sixteen channels, after the song's, at the user's volume; once the
// keyboards stop, no echoed key may hang.
TEST(KeyboardEchoTest, KeysSoundOnTheirOwnChannelsAtTheUsersVolumeAndNoneHangsAfter) {
    boost::asio::io_context mainQueue;
    KeyvoraFlow session;
    test::RecordingReceiver echo;
    NoLights lights;
    Database unopened;
    MidiManagerHandler keyboards(session, &echo, lights, unopened, mainQueue.get_executor());
    const std::vector<std::tuple<std::int32_t, std::vector<unsigned char>, std::vector<test::Sent>>> table = {
        {100, {0x93, 60, 37}, {{0x90, 19, 60, 37}}},
        {50, {0x90, 60, 127}, {{0x90, 16, 60, 63}}},
        {500, {0x90, 60, 127}, {{0x90, 16, 60, 127}}},
        {100, {0x85, 61, 64}, {{0x80, 21, 61, 0}}},
        {100, {0x9F, 62, 0}, {{0x80, 31, 62, 0}}},
        {100, {0xB0, 64, 127}, {}},
        {0, {0x90, 60, 100}, {}},
    };
    for (const auto& [volume, bytes, heard] : table) {
        User user;
        user.speakerPcVelocity = volume;
        session.currentUser.set(user);
        echo.sent.clear();
        keyboards.RecordingCallback(bytes.data(), bytes.size(), host_clock::now());
        EXPECT_EQ(echo.sent.all(), heard) << volume << " " << int(bytes[0]);
    }
    echo.sent.clear();
    keyboards.stop();
    std::set<int> released;
    for (const test::Sent& message : echo.sent.all()) {
        if (message.command == 0xB0 && message.data1 == 123) released.insert(message.channel);
    }
    EXPECT_EQ(released.size(), 16u);
    EXPECT_EQ(*released.begin(), MidiManagerHandler::kEchoChannels);
}

}  // namespace
}  // namespace kv

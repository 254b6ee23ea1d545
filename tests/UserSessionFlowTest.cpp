#include "core/KeyvoraFlow.h"
#include "core/Version.h"
#include "core/WhiteNoteConverter.h"
#include "store/UserHelper.h"

#include "support/InProcessService.h"

#include <regex>

namespace kv {
namespace {

using nlohmann::json;

class UserSessionFlowTest : public test::InProcessService {
protected:
    void SetUp() override { startService(); }
    json startSession(const std::string& clientID, const std::string& token) {
        return call({{"methodName", 2}, {"functionId", "s"}, {"clientID", clientID}, {"token", token}});
    }
};

TEST_F(UserSessionFlowTest, TheInstallationIdIsMadeOnceAndKept) {
    const json first = call(test::request(17, "i"));
    EXPECT_EQ(first["code"], 0);
    EXPECT_EQ(first["message"], "SUCCESS");
    EXPECT_EQ(first["version"], getVersion());
    const std::string id = first["installationId"];
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << id;
    EXPECT_EQ(call(test::request(17, "j"))["installationId"], id);
}

TEST_F(UserSessionFlowTest, AKnownUserKeepsItsStoredTokenAndDates) {
    const json first = startSession("77", "token-1");
    EXPECT_EQ(first, json({{"Device", json::object()}, {"speakerPc", false}, {"virtualPianoSoundVolume", 0},
                           {"message", "SUCCESS"}, {"code", 0}}));
    const auto created = UserHelper(Database::shared()).getUserByID("77");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->token, "token-1");
    EXPECT_EQ(created->createdDate.size(), 19u);

    auto stored = *created;
    stored.speakerPc = true;
    stored.speakerPcVelocity = 65;
    stored.createdDate = "2020-01-01 00:00:00";
    ASSERT_TRUE(UserHelper(Database::shared()).updateUser(stored));
    const json again = startSession("77", "token-2");
    EXPECT_EQ(again["speakerPc"], true);
    EXPECT_EQ(again["virtualPianoSoundVolume"], 65);
    const auto kept = UserHelper(Database::shared()).getUserByID("77");
    EXPECT_EQ(kept->token, "token-1");
    EXPECT_EQ(kept->createdDate, "2020-01-01 00:00:00");
    EXPECT_EQ(KeyvoraFlow::shared().currentUser.get()->Id, 77);
}

TEST_F(UserSessionFlowTest, TheSelectedKeyboardIsAnsweredWithItsKeyRange) {
    auto piano = std::make_shared<MidiDevice>();
    piano->deviceId = "Piano 2";
    piano->name = "Piano 2";
    piano->lowestNote = 21;
    piano->highestNote = 108;
    auto& session = KeyvoraFlow::shared();
    session.currentMidiDevice.set(piano);
    session.listDevices.set({std::make_shared<MidiDevice>(), piano});
    const json answer = startSession("8", "t");
    EXPECT_EQ(answer["Device"], json({{"id", "Piano 2"}, {"deviceName", "Piano 2"}, {"deviceCount", 2}}));
    EXPECT_EQ(answer["PianoLowestNote"], json({{"pitch", "A"}, {"octave", 0}}));
    EXPECT_EQ(answer["PianoHighestNote"], json({{"pitch", "C"}, {"octave", 8}}));
}

TEST_F(UserSessionFlowTest, AUserIdThatIsNotANumberCreatesNoUser) {
    User existing;
    existing.Id = 1;
    existing.token = "mine";
    ASSERT_TRUE(UserHelper(Database::shared()).insertUser(existing));
    for (const char* id : {"1abc", "1 OR 1=1", ""}) {
        EXPECT_EQ(startSession(id, "theirs"), json({{"message", "insert User is fail"}, {"code", -1}})) << id;
    }
    EXPECT_EQ(UserHelper(Database::shared()).getUserByID("1")->token, "mine");
}

}  // namespace
}  // namespace kv

#include "base/DateText.h"
#include "core/BaseRequestJSONObject.h"
#include "core/KeyvoraFlow.h"
#include "store/PracticeMinutes.h"
#include "store/RecordTable.h"
#include "flows/store/ClearPracticeMinutesFlowByClientID.h"
#include "flows/store/ClearPracticeMinutesFlowBySongID.h"
#include "flows/store/GetPracticeMinutesFlow.h"
#include "flows/store/SavePracticeMinutesFlow.h"

#include "support/TempDatabase.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

using nlohmann::json;

std::int32_t nowSeconds() {
    return static_cast<std::int32_t>(currentTimeSeconds(std::chrono::system_clock::now()));
}

class PracticeMinutesTest : public ::testing::Test {
protected:
    SharedObject<KeyvoraFlow> session_;

    // Runs the flow as the dispatcher would for the user and the web application's version.
    template <class Flow>
    json run(const std::string& clientID, json data, const std::string& version = "") {
        json envelope = {{"methodName", 0}, {"clientID", clientID}, {"data", data}};
        if (!version.empty()) envelope["version"] = version;
        const auto request = parseRequest(envelope.dump());
        session_->webVersion.set(request.version.value_or(""));
        return Flow().processData(data, "id of socket", request);
    }

    json save(const std::string& clientID, json data) { return run<SavePracticeMinutesFlow>(clientID, std::move(data)); }
    json read(const std::string& clientID, const std::string& songID, const std::string& version = "") {
        return run<GetPracticeMinutesFlow>(clientID, {{"songID", songID}}, version);
    }

    void storeAged(const std::string& clientID, const std::string& songID, std::int32_t timestamp) {
        PracticeMinutes record;
        record.clientID = clientID;
        record.songID = songID;
        record.seconds = "1";
        record.rednote = "0";
        record.timestamp = timestamp;
        ASSERT_TRUE(RecordTable<PracticeMinutes>::commit(Database::shared(), record));
    }

    test::TempDatabase database_;
};

TEST_F(PracticeMinutesTest, ASavedSegmentIsReadBackInBothFormsAndOneWithoutItsValuesIsRefused) {
    EXPECT_EQ(save("5", {{"seconds", 30}, {"songID", 12}, {"rednote", "3"}, {"predict", "p"}, {"startMeasure", 1},
                         {"startTick", "0"}, {"endMeasure", "4"}, {"endTick", 480}}),
              json({{"code", 0}, {"message", "SUCCESS"}}));
    const json newer = read("5", "12");
    ASSERT_EQ(newer.size(), 1u);
    EXPECT_LE(std::abs(newer[0]["timestamp"].get<int>() - nowSeconds()), 2);
    EXPECT_EQ(newer[0], json({{"clientID", "5"}, {"songID", "12"}, {"seconds", "30"}, {"rednote", "3"}, {"predict", "p"},
                              {"tempo", ""}, {"startMeasure", "1"}, {"startTick", "0"}, {"endMeasure", "4"},
                              {"endTick", "480"}, {"timestamp", newer[0]["timestamp"]}}));
    EXPECT_EQ(read("5", "12", "oldgen/web"), json::array({{{"clientID", "5"}, {"songID", "12"}, {"seconds", "30"}, {"rednote", "3"}}}));

    const json refused = {{"code", -1}, {"message", "Seconds value or rednote value is NULL. Invalid data."}};
    for (const json& data : {json({{"seconds", 1}, {"songID", 2}}), json({{"seconds", 1}, {"rednote", 2}}),
                             json({{"songID", 2}, {"rednote", 2}}), json({{"seconds", nullptr}, {"songID", 2}, {"rednote", 2}})}) {
        EXPECT_EQ(save("5", data), refused) << data;
    }
    EXPECT_TRUE(read("5", "2").empty());
}

TEST_F(PracticeMinutesTest, ReadsPurgeEveryUsersSegmentsOlderThanThreeDays) {
    // The boundary is to the second: retry when the clock ticks over between setup and read.
    for (int attempt = 0; attempt < 3; ++attempt) {
        RecordTable<PracticeMinutes>::removeWhere(Database::shared(), Condition().number("timestamp", ">", std::int64_t{-1}));
        const std::int32_t now = nowSeconds();
        storeAged("1", "9", now - 259200);      // exactly three days: kept
        storeAged("1", "9", now - 259201);      // one second more: purged
        storeAged("2", "9", now - 400000);      // another user's: purged by user 1's read
        storeAged("2", "9", now);
        const json segments = read("1", "9");
        if (nowSeconds() != now) continue;
        ASSERT_EQ(segments.size(), 1u);
        EXPECT_EQ(segments[0]["timestamp"], now - 259200);
        EXPECT_EQ(RecordTable<PracticeMinutes>::fetch(Database::shared())->size(), 2u);
        return;
    }
    FAIL() << "the clock kept ticking over";
}

TEST_F(PracticeMinutesTest, ClearingByTempoLeavesOtherTemposAndTheOlderFormClearsAll) {
    for (const char* tempo : {"80", "100", "100"}) {
        ASSERT_EQ(save("5", {{"seconds", 1}, {"songID", 3}, {"rednote", 0}, {"tempo", tempo}})["code"], 0);
    }
    ASSERT_EQ(save("5", {{"seconds", 1}, {"songID", 4}, {"rednote", 0}, {"tempo", "100"}})["code"], 0);
    ASSERT_EQ(save("6", {{"seconds", 1}, {"songID", 3}, {"rednote", 0}, {"tempo", "100"}})["code"], 0);

    EXPECT_EQ(run<ClearPracticeMinutesFlowBySongID>("5", {{"songID", 3}, {"tempo", 100}}),
              json({{"code", 0}, {"message", "SUCCESS"}}));
    const json left = read("5", "3");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0]["tempo"], "80");
    EXPECT_EQ(read("5", "4").size(), 1u);
    EXPECT_EQ(read("6", "3").size(), 1u);

    EXPECT_EQ(run<ClearPracticeMinutesFlowBySongID>("5", {{"songID", "3"}}, "oldgen/web")["code"], 0);
    EXPECT_TRUE(read("5", "3").empty());
    EXPECT_EQ(read("6", "3").size(), 1u);

    EXPECT_EQ(run<ClearPracticeMinutesFlowByClientID>("6", json::object()), json::object());
    EXPECT_EQ(read("6", "3").size(), 1u);
}

}  // namespace
}  // namespace kv

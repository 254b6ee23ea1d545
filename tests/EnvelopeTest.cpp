#include "base/JsonReading.h"
#include "base/JsonText.h"
#include "core/BaseRequestJSONObject.h"
#include "core/BaseResponseJSONObject.h"
#include "core/KeyvoraFlow.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kv {
namespace {

using nlohmann::json;
namespace reading = json_reading;

TEST(ReadingRules, IntegersFromNumbersAndLeadingDigits) {
    EXPECT_EQ(reading::toInt32(json(12)), 12);
    EXPECT_EQ(reading::toInt32(json(12.9)), 12);
    EXPECT_EQ(reading::toInt32(json(-12.9)), -12);
    EXPECT_EQ(reading::toInt32(json("12")), 12);
    EXPECT_EQ(reading::toInt32(json("  -7abc")), -7);
    EXPECT_EQ(reading::toInt32(json("+3")), 3);
    EXPECT_EQ(reading::toInt32(json("abc")), 0);
    EXPECT_EQ(reading::toInt32(json("")), 0);
    EXPECT_EQ(reading::toInt32(json(1e20)), INT32_MAX);
    EXPECT_EQ(reading::toInt32(json("-99999999999999999999")), INT32_MIN);
    EXPECT_EQ(reading::toInt32(json(18446744073709551615ULL)), INT32_MAX);
    EXPECT_EQ(reading::toInt32(json::array()), 0);
}

TEST(ReadingRules, BooleansFromNumbersTrueAndLeadingLetters) {
    for (const json& yes : {json(true), json(1), json(-2), json(0.5), json("Y"), json("yes"),
                            json(" t"), json("True"), json("+9"), json("0001"), json("-0y")}) {
        EXPECT_TRUE(reading::toBool(yes)) << yes.dump();
    }
    for (const json& no : {json(false), json(0), json(0.0), json("N"), json("false"), json("000"),
                           json(""), json("  "), json("0"), json("x1"), json::object()}) {
        EXPECT_FALSE(reading::toBool(no)) << no.dump();
    }
}

TEST(ReadingRules, AbsentStaysAbsentAndStringsStayUnchanged) {
    const json object = {{"a", "text"}, {"n", 5}, {"z", nullptr}, {"o", {{"k", 1}}}, {"arr", json::array()}};
    EXPECT_EQ(reading::readString(object, "a"), "text");
    EXPECT_EQ(reading::readString(object, "n"), "5");
    EXPECT_EQ(reading::readString(object, "missing"), std::nullopt);
    EXPECT_EQ(reading::readString(object, "z"), std::nullopt);
    EXPECT_EQ(reading::readString(object, "arr"), std::nullopt);
    EXPECT_EQ(reading::readInt32(object, "missing"), std::nullopt);
    EXPECT_EQ(reading::readObject(object, "o"), json({{"k", 1}}));
    EXPECT_THROW(reading::readObject(object, "a"), std::invalid_argument);
}

TEST(JsonText, InvalidIsNothingAndDeepNestingThrows) {
    EXPECT_EQ(JSONStringToDictionary("{not json"), std::nullopt);
    EXPECT_EQ(JSONStringToDictionary(""), std::nullopt);
    EXPECT_EQ(JSONStringToDictionary("\"\xff\""), std::nullopt);
    EXPECT_EQ(JSONStringToDictionary("[1,2]"), json({1, 2}));

    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(JSONStringToDictionary(nested(kMaxJsonDepth)).has_value());
    EXPECT_THROW(JSONStringToDictionary(nested(kMaxJsonDepth + 1)), std::runtime_error);
    EXPECT_THROW(JSONStringToDictionary(nested(1'000'000)), std::runtime_error);
}

class EnvelopeTest : public ::testing::Test {
protected:
    SharedObject<KeyvoraFlow> session_;
};

TEST_F(EnvelopeTest, RequestFieldsFollowTheReadingRules) {
    const auto request = parseRequest(
        R"({"methodName":"1","functionId":"f1","clientID":"u7","isStudentMode":"yes",
            "timezoneOffset":"-420","data":{"token":"abc"},"other":1})");
    EXPECT_EQ(request.methodName, 1);
    EXPECT_EQ(request.functionId, "f1");
    EXPECT_EQ(request.clientID, "u7");
    EXPECT_TRUE(request.isStudentMode);
    EXPECT_EQ(request.timezoneOffset, -420);
    EXPECT_EQ(request.data, json({{"token", "abc"}}));
    EXPECT_EQ(request.token, std::nullopt);
}

TEST_F(EnvelopeTest, NotJsonIsAnEmptyRequestButOtherShapesThrow) {
    EXPECT_EQ(parseRequest("hello").methodName, 0);
    EXPECT_THROW(parseRequest("[1,2,3]"), std::invalid_argument);
    EXPECT_THROW(parseRequest("42"), std::invalid_argument);
    EXPECT_THROW(parseRequest(R"({"methodName":1,"data":[1]})"), std::invalid_argument);
    EXPECT_THROW(parseRequest(R"({"methodName":1,"data":"x"})"), std::invalid_argument);
    EXPECT_FALSE(parseRequest(R"({"methodName":1,"data":null})").data.has_value());
}

TEST_F(EnvelopeTest, VersionIsCopiedAndAbsentVersionResetsIt) {
    auto& session = KeyvoraFlow::shared();
    parseRequest(R"({"methodName":1,"version":"oldgen/web"})");
    EXPECT_EQ(session.webVersion.get(), "oldgen/web");
    parseRequest(R"({"methodName":1})");
    EXPECT_EQ(session.webVersion.get(), "");
    parseRequest(R"({"methodName":1,"version":"oldgen/web"})");
    parseRequest("not json at all");
    EXPECT_EQ(session.webVersion.get(), "");
}

TEST_F(EnvelopeTest, ResponseEchoesTheRequestAndLeavesAbsentKeysOut) {
    const auto request = parseRequest(
        R"({"methodName":31,"clientID":"c","clientSecret":"s","token":"t","installationId":"i",
            "expiredDate":"e","encoding":"enc","requestDate":"r","localRequestDate":"l",
            "lang":"vi","timezoneOffset":7,"noEncryption":true,"isStudentMode":true})");
    const auto text = composeResponseMessage(json{{"code", -1}}, 0, "SUCCESS", request).toJSONString();
    const json response = json::parse(text);
    for (const char* key : {"clientID", "clientSecret", "token", "installationId", "expiredDate",
                            "encoding", "requestDate", "localRequestDate"}) {
        EXPECT_TRUE(response[key].is_string()) << key;
    }
    EXPECT_EQ(response["clientID"], "c");
    EXPECT_EQ(response["localRequestDate"], "l");
    EXPECT_EQ(response["methodName"], 31);
    EXPECT_EQ(response["responseCode"], 0);
    EXPECT_EQ(response["errorMessage"], "SUCCESS");
    EXPECT_EQ(response["isStudentMode"], false);
    EXPECT_EQ(response["noEncryption"], false);
    EXPECT_EQ(response["timezoneOffset"], 0);
    EXPECT_EQ(response["data"], json({{"code", -1}}));
    EXPECT_EQ(response["responseDate"].get<std::string>().size(), 19u);
    EXPECT_FALSE(response.contains("lang"));
    EXPECT_FALSE(response.contains("functionId"));
}

TEST_F(EnvelopeTest, PushEnvelopeCarriesOnlyTheFixedKeys) {
    const auto request = parseRequest(R"({"methodName":3})");
    const json push = json::parse(composeResponseMessage(json::object(), 0, "SUCCESS", request).toJSONString());
    std::set<std::string> keys;
    for (const auto& item : push.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{"methodName", "responseCode", "responseDate", "errorMessage",
                                           "isStudentMode", "timezoneOffset", "noEncryption", "data"}));
}

TEST_F(EnvelopeTest, CodeSevenOnlyForMethodNineWhileASongPlays) {
    auto& session = KeyvoraFlow::shared();
    const auto prepare = parseRequest(R"({"methodName":9})");
    const auto other = parseRequest(R"({"methodName":10})");
    auto codeOf = [](const BaseRequestJSONObject& request) {
        return composeResponseMessage(json::object(), 0, "SUCCESS", request).responseCode;
    };

    EXPECT_EQ(codeOf(prepare), 0);  // idle
    session.APP_STATE = 2;
    EXPECT_EQ(codeOf(prepare), 0);  // state set but music stopped
    session.isStopMusic = false;
    const auto playing = composeResponseMessage(json::object(), 0, "SUCCESS", prepare);
    EXPECT_EQ(playing.responseCode, 7);
    EXPECT_EQ(playing.errorMessage, "THE DEVICE IS PLAYING MIDI FILE");
    EXPECT_EQ(codeOf(other), 0);
    session.APP_STATE = 0;
    EXPECT_EQ(codeOf(prepare), 0);
}

}  // namespace
}  // namespace kv

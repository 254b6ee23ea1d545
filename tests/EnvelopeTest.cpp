#include "base/JsonReading.h"
#include "base/JsonText.h"
#include "base/Utf8.h"
#include "core/BaseRequestJSONObject.h"
#include "core/BaseResponseJSONObject.h"
#include "core/KeyvoraFlow.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

using nlohmann::json;
namespace reading = json_reading;

TEST(ReadingRules, IntegersAndFlagsFromNumbersAndLeadingText) {
    const std::vector<std::pair<json, std::int32_t>> integers = {
        {12, 12}, {12.9, 12}, {-12.9, -12}, {"12", 12}, {"  -7abc", -7}, {"+3", 3}, {"abc", 0}, {"", 0},
        {1e20, INT32_MAX}, {"-99999999999999999999", INT32_MIN}, {18446744073709551615ULL, INT32_MAX},
        {json::array(), 0}, {true, 1}};
    for (const auto& [value, expected] : integers) EXPECT_EQ(reading::toInt32(value), expected) << value.dump();
    for (const json& yes : {json(true), json(1), json(-2), json(0.5), json("Y"), json("yes"), json(" t"),
                            json("True"), json("+9"), json("0001"), json("-0y")}) {
        EXPECT_TRUE(reading::toBool(yes)) << yes.dump();
    }
    for (const json& no : {json(false), json(0), json("N"), json("false"), json("000"), json(""), json("  "),
                           json("x1"), json::object()}) {
        EXPECT_FALSE(reading::toBool(no)) << no.dump();
    }
}

TEST(ReadingRules, AbsentStaysAbsentAndStringsStayUnchanged) {
    const json object = {{"a", "text"}, {"n", 5}, {"z", nullptr}, {"o", {{"k", 1}}}, {"arr", json::array()}};
    EXPECT_EQ(reading::readString(object, "a"), "text");
    EXPECT_EQ(reading::readString(object, "n"), "5");
    for (const char* absent : {"missing", "z", "arr"}) EXPECT_EQ(reading::readString(object, absent), std::nullopt);
    EXPECT_EQ(reading::readInt32(object, "missing"), std::nullopt);
    EXPECT_EQ(reading::readObject(object, "o"), json({{"k", 1}}));
    EXPECT_THROW(reading::readObject(object, "a"), std::invalid_argument);
}

TEST(JsonText, InvalidIsNothingAndDeepNestingThrows) {
    for (const char* invalid : {"{not json", "", "\"\xff\""}) EXPECT_EQ(JSONStringToDictionary(invalid), std::nullopt);
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(JSONStringToDictionary(nested(kMaxJsonDepth)).has_value());
    EXPECT_THROW(JSONStringToDictionary(nested(kMaxJsonDepth + 1)), std::runtime_error);
    EXPECT_THROW(JSONStringToDictionary(nested(1'000'000)), std::runtime_error);
}

// Each byte of a sequence that does not decode becomes U+FFFD: an overlong form, a surrogate, a
// code point past U+10FFFF and a sequence cut short included.
TEST(Utf8, InvalidSequencesAreReplacedAndValidTextKept) {
    const std::string r = "\uFFFD";
    const std::vector<std::pair<std::string, std::string>> table = {
        {"Caf\u00e9 \U0001F3B9", "Caf\u00e9 \U0001F3B9"}, {"Caf\xe9", "Caf" + r}, {"\xC0\x80", r + r},
        {"\xC1\xBF", r + r}, {"\xED\xA0\x80", r + r + r}, {"\xED\x9F\xBF", "\uD7FF"}, {"a\xE2\x82", "a" + r + r},
        {"\xF4\x90\x80\x80", r + r + r + r}, {"\x80z", r + "z"}, {std::string("\0", 1), std::string("\0", 1)}};
    for (const auto& [text, valid] : table) EXPECT_EQ(validUtf8(text), valid) << testing::PrintToString(text);
}

class EnvelopeTest : public ::testing::Test {
protected:
    KeyvoraFlow session_;
};

TEST_F(EnvelopeTest, RequestFieldsFollowTheReadingRulesAndOtherShapesThrow) {
    const auto request = parseRequest(R"({"methodName":"1","functionId":"f1","clientID":"u7","isStudentMode":"yes",
                                          "timezoneOffset":"-420","data":{"token":"abc"},"version":"oldgen/web"})");
    EXPECT_EQ(request.methodName, 1);
    EXPECT_EQ(request.functionId, "f1");
    EXPECT_EQ(request.clientID, "u7");
    EXPECT_TRUE(request.isStudentMode);
    EXPECT_EQ(request.timezoneOffset, -420);
    EXPECT_EQ(request.data, json({{"token", "abc"}}));
    EXPECT_EQ(request.token, std::nullopt);
    EXPECT_EQ(request.version, "oldgen/web");

    EXPECT_EQ(parseRequest("hello").methodName, 0);
    EXPECT_FALSE(parseRequest(R"({"methodName":1,"data":null})").data.has_value());
    for (const char* refused : {"[1,2,3]", "42", R"({"methodName":1,"data":[1]})", R"({"methodName":1,"data":"x"})"}) {
        EXPECT_THROW(parseRequest(refused), std::invalid_argument) << refused;
    }
}

TEST_F(EnvelopeTest, ResponseEchoesTheRequestAndLeavesAbsentKeysOut) {
    const auto request = parseRequest(
        R"({"methodName":31,"clientID":"c","clientSecret":"s","token":"t","installationId":"i","expiredDate":"e",
            "encoding":"enc","requestDate":"r","localRequestDate":"l","functionId":"f","lang":"vi","timezoneOffset":7,
            "noEncryption":true,"isStudentMode":true})");
    const json response = json::parse(composeResponseMessage(json{{"code", -1}}, 0, "SUCCESS", request, session_).toJSONString());
    EXPECT_EQ(response, json({{"clientID", "c"}, {"clientSecret", "s"}, {"token", "t"}, {"installationId", "i"},
                              {"expiredDate", "e"}, {"encoding", "enc"}, {"requestDate", "r"}, {"localRequestDate", "l"},
                              {"functionId", "f"}, {"methodName", 31}, {"responseCode", 0}, {"errorMessage", "SUCCESS"},
                              {"isStudentMode", false}, {"noEncryption", false}, {"timezoneOffset", 0},
                              {"data", {{"code", -1}}}, {"responseDate", response["responseDate"]}}));
    EXPECT_EQ(response["responseDate"].get<std::string>().size(), 19u);

    const json push = json::parse(composeResponseMessage(std::nullopt, 0, "SUCCESS", parseRequest(R"({"methodName":3})"), session_).toJSONString());
    EXPECT_EQ(push.size(), 7u) << push;
    EXPECT_FALSE(push.contains("data"));
}

TEST_F(EnvelopeTest, CodeSevenOnlyForMethodNineWhileASongPlays) {
    auto& session = session_;
    const auto codeOf = [this](const char* text) {
        return composeResponseMessage(json::object(), 0, "SUCCESS", parseRequest(text), session_).responseCode;
    };
    EXPECT_EQ(codeOf(R"({"methodName":9})"), 0);
    session.APP_STATE = 2;
    EXPECT_EQ(codeOf(R"({"methodName":9})"), 0) << "the music was stopped";
    session.isStopMusic = false;
    const auto playing = composeResponseMessage(json::object(), 0, "SUCCESS", parseRequest(R"({"methodName":9})"), session_);
    EXPECT_EQ(playing.responseCode, 7);
    EXPECT_EQ(playing.errorMessage, "THE DEVICE IS PLAYING MIDI FILE");
    EXPECT_EQ(codeOf(R"({"methodName":10})"), 0);
    session.APP_STATE = 0;
    EXPECT_EQ(codeOf(R"({"methodName":9})"), 0);
}

}  // namespace
}  // namespace kv

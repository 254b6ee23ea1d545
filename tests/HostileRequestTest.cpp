// What any web page the student has open could send: every key of every flow given values no web
// application sends, and connections that misbehave. Built and run under AddressSanitizer and
// UndefinedBehaviorSanitizer in `make test`.
#include "core/BaseFlow.h"
#include "core/FlowTable.h"
#include "core/KeyvoraFlow.h"
#include "core/RequestDispatcher.h"
#include "core/Version.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/WebSocketConnection.h"
#include "store/UserHelper.h"

#include "support/Eventually.h"
#include "support/InProcessService.h"
#include "support/MidiFileBuilder.h"
#include "support/RawWsPeer.h"
#include "support/RequestText.h"
#include "support/ScopedEnvironment.h"

#include <map>
#include <stdexcept>

namespace kv {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

json nested(int depth) {
    json value = 1;
    for (int i = 0; i < depth; ++i) value = json::array({value});
    return value;
}

// Long, huge, negative, fractional, wrong-typed, absent-like and path-like values.
const std::vector<json>& hostileValues() {
    static const std::vector<json> values = {
        std::string(40'000, '9'), std::string(100'000, 'x'), "99999999999", "3000000000", "-2147483649",
        "1abc", "", " ", "../../../etc/passwd", std::string("a\0b", 3), "Caf\u00e9 \U0001F3B9", "1e400",
        1e308, -1e308, 2147483648LL, -2147483649LL, 18446744073709551615ULL, -1, 0, 0.5, true, false, nullptr,
        json::array(), json::object(), json::array({1, "x", nullptr}), nested(60),
    };
    return values;
}

// The request keys of each flow the service has; flows without keys get the hostile envelopes.
const std::map<int, std::vector<std::string>>& flowKeys() {
    static const std::map<int, std::vector<std::string>> keys = {
        {1, {}},  {2, {}},  {3, {}},  {4, {"deviceName"}}, {7, {}}, {14, {"LowestNote", "HighestNote"}},
        {17, {}}, {21, {}}, {22, {}}, {23, {"speakerPc", "virtualPianoSoundVolume"}},
        {27, {}}, {28, {}}, {29, {}}, {31, {}}, {45, {"token"}}, {46, {}}, {47, {}}, {48, {}},
        {49, {"songID"}},
        {50, {"seconds", "songID", "rednote", "predict", "tempo", "startMeasure", "startTick", "endMeasure", "endTick"}},
        {51, {"songID", "tempo"}}, {52, {}}, {53, {}}, {60, {"leds"}},
    };
    return keys;
}

class HostileRequestTest : public test::InProcessService {
protected:
    std::uint16_t start() { return startService(); }

    // The answer to one request: an envelope with the request's method and correlation id, and
    // its data (but of a cache save that brings no file, which is answered without).
    json envelope(json text) {
        static int sent = 0;
        const std::string functionId = "h" + std::to_string(++sent);
        text["functionId"] = functionId;
        browser().sendText(text.dump());
        const auto answer = browser().receive(10s);
        if (!answer) {
            ADD_FAILURE() << "no answer to " << text.dump().substr(0, 200);
            return {};
        }
        const json parsed = json::parse(*answer, nullptr, false);
        EXPECT_TRUE(parsed.is_object()) << answer->substr(0, 200) << " for " << text.dump().substr(0, 200);
        EXPECT_EQ(parsed.value("functionId", ""), functionId) << text.dump().substr(0, 200);
        EXPECT_EQ(parsed.value("methodName", -1), text["methodName"]);
        EXPECT_TRUE(parsed.contains("data") || text["methodName"] == 6) << answer->substr(0, 200);
        return parsed.value("data", json());
    }

    json data(int methodName, json requestData, const std::string& clientID = "5") {
        return envelope({{"methodName", methodName}, {"clientID", clientID}, {"data", std::move(requestData)}});
    }

    test::ScopedEnvironment noAudio_{"KVPLUGIN_AUDIO_API", "null"};
};

TEST_F(HostileRequestTest, EveryKeyOfEveryFlowIsAnsweredWithAnEnvelope) {
    start();
    for (const auto& [method, keys] : flowKeys()) {
        for (const auto& key : keys) {
            for (const json& value : hostileValues()) data(method, {{key, value}});
        }
    }
    for (const json& value : hostileValues()) {
        data(14, {{"LowestNote", {{"pitch", value}, {"octave", value}}}, {"HighestNote", {{"pitch", value}, {"octave", value}}}});
        data(60, {{"leds", json::array({{{"note", value}, {"staff", value}}, value})}});
        for (const int method : {2, 23, 49, 50, 51}) {
            envelope({{"methodName", method}, {"clientID", value}, {"token", value},
                      {"data", {{"songID", 7}, {"seconds", 1}, {"rednote", 0}, {"tempo", 100}}}});
        }
        json everyField = {{"methodName", 1}};
        for (const char* field : {"clientSecret", "token", "isStudentMode", "installationId", "expiredDate", "encoding",
                                  "requestDate", "localRequestDate", "timezoneOffset", "noEncryption", "lang", "version"}) {
            everyField[field] = value;
        }
        envelope(everyField);
    }
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kSongPlaying;  // the latency flow answers at once
    data(15, {{"x", 1}});
    data(54, json::object());
    EXPECT_EQ(data(1, json::object()).value("pluginVersion", ""), getVersion());
}

// Every key of the cache, preparation, play, stop and volume requests, given what no web
// application sends, then a play and a stop that are answered within their bounds, and a ping.
TEST_F(HostileRequestTest, PlaybackRequestsOfAnyShapeLeaveTheNextPlayAndStopWorking) {
    start();
    test::MidiTrackBuilder track;
    track.event(0, {0xC0, 0}).event(0, {0x90, 60, 90}).event(480, {0x80, 60, 0});
    const std::string song = test::base64(test::midiFile(480, {track}));
    ASSERT_EQ(data(6, {{"id", 1}, {"midiFile", song}, {"lastMidiModified", "x"}})["code"], 0);
    const auto playAndStop = [&](const std::string& after) {
        const auto asked = std::chrono::steady_clock::now();
        data(12, {{"songId", 1}, {"startTime", test::utcTextIn(100ms)}, {"metronomeVolume", 100}});
        EXPECT_EQ(data(10, json::object())["code"], 0) << "after " << after;
        EXPECT_EQ(data(1, json::object()).value("pluginVersion", ""), getVersion()) << "after " << after;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s) << "after " << after;
    };
    const std::map<int, std::vector<std::string>> keys = {
        {5, {"id"}}, {6, {"id", "midiFile", "lastMidiModified"}}, {19, {"exerciseId", "notation", "lastXmlModified"}},
        {20, {"exerciseId"}}, {12, {"songId", "startTime", "accompanimentVolume", "metronomeVolume", "instrumentVolume", "countOffVolume"}},
        {55, {"accompanimentVolume", "instrumentVolumes", "audioVolumes"}}, {56, {"metronomeVolume"}},
        {57, {"instrumentVolume"}}, {58, {}}, {59, {"countOffVolume"}},
        {9, {"songId", "tempo", "timeSignature", "startBeat", "startTime", "endTime", "startPosition", "tickSpacing",
             "listCountOffSound", "listCountOffTime", "isPlayAudio", "audioFiles", "timeSignatureMap", "isTempoMapEnable",
             "tempoMaps", "ledNotes", "accompanimentVolume", "metronomeVolume", "countOffVolume"}},
    };
    for (const auto& [method, names] : keys) {
        for (const auto& key : names) {
            for (const json& value : hostileValues()) data(method, {{"songId", 1}, {"id", 1}, {key, value}});
            if (method == 9) data(9, {{"songId", 1}, {"tempo", 120}, {"metronomeVolume", 100}});
            playAndStop(std::to_string(method) + " " + key);
        }
    }
    for (const json& start : {json("1970-01-01T00:00:00"), json("0001-01-01T00:00:00"), json("9999-12-31T23:59:59.999"),
                              json("2262-04-11T23:47:16.854"), json("2261-12-31T23:59:59"), json("garbage garbage 19"),
                              json(""), json(12345), json(-1e308), json(nullptr)}) {
        EXPECT_EQ(data(12, {{"songId", 1}, {"startTime", start}})["code"], -1) << start;
        playAndStop(start.dump());
    }
    ASSERT_EQ(data(6, {{"id", 1}, {"midiFile", song}, {"lastMidiModified", "x"}})["code"], 0) << "cached again";
    json many = json::array();
    for (int i = 0; i < 100000; ++i) many.push_back({{"quarterPos", i % 7}, {"bpm", i % 2 ? 1e9 : -60}});
    json tenThousand = json::array();
    for (int i = 0; i < 10000; ++i) tenThousand.push_back(i % 3 ? "oneSound" : "noSuchSound");
    for (const json& prepare : {json({{"tempoMaps", {{{"quarterPos", 0}, {"bpm", 120}}, {{"quarterPos", 0}, {"bpm", 60}}, {{"quarterPos", 0}, {"bpm", 1e9}}}}}),
                                json({{"tempoMaps", {{{"quarterPos", 0}, {"bpm", 120}}, {{"quarterPos", 4}, {"bpm", -60}}}}}),
                                json({{"tempoMaps", {{{"quarterPos", 0}, {"bpm", 120}}, {{"quarterPos", 2}, {"bpm", 0}}}}}),
                                json({{"tempoMaps", {{{"quarterPos", 8}, {"bpm", 120}}, {{"quarterPos", 1}, {"bpm", 90}}}}}),
                                json({{"tempoMaps", many}}),
                                json({{"listCountOffSound", tenThousand}, {"listCountOffTime", json::array({1e300, -1e300, 1e-300})}}),
                                json({{"tickSpacing", 1e300}, {"tempo", 2147483647}}), json({{"tickSpacing", -1e300}, {"tempo", -1}})}) {
        json request = prepare;
        request.update({{"songId", 1}, {"tempo", request.value("tempo", json(120))}, {"isTempoMapEnable", true}, {"metronomeVolume", 100},
                        {"timeSignature", {{"beats", 4}, {"beatType", 4}}}, {"endTime", 1e9}});
        EXPECT_EQ(data(9, request)["code"], 0) << prepare.dump().substr(0, 200);
        playAndStop(prepare.dump().substr(0, 200));
    }
}

// Ids too long or beyond 32 bits find, create, change and delete nothing.
TEST_F(HostileRequestTest, IdsOutOfRangeTouchNoUserAndNoRecord) {
    User existing;
    existing.Id = 2147483647;
    existing.token = "mine";
    existing.speakerPcVelocity = 40;
    start();
    ASSERT_TRUE(UserHelper(Database::shared()).insertUser(existing));
    const std::string longId(40'000, '9');
    for (const std::string& id : {longId, std::string("99999999999"), std::string("2147483648"), std::string("-2147483649")}) {
        EXPECT_EQ(data(2, json::object(), id), json({{"message", "insert User is fail"}, {"code", -1}})) << id.size();
        EXPECT_EQ(data(23, {{"virtualPianoSoundVolume", 90}}, id), json({{"code", -1}, {"message", "insert User is fail"}}));
        EXPECT_EQ(data(49, {{"songID", 1}}, id), json::array());
    }
    EXPECT_EQ(UserHelper(Database::shared()).getUserByID("2147483647")->speakerPcVelocity, 40);
    EXPECT_EQ(UserHelper(Database::shared()).getUserByID("2147483647")->token, "mine");
    EXPECT_EQ(data(49, {{"songID", longId}}), json::array());
    EXPECT_EQ(data(50, {{"songID", 3}, {"seconds", 10}, {"rednote", 0}}, "3000000000")["code"], 0);
    EXPECT_EQ(data(49, {{"songID", 3}}, "3000000000"), json::array()) << "read as no user";
    for (const auto& [clear, client] : std::vector<std::pair<json, std::string>>{
             {{{"songID", longId}, {"tempo", 100}}, "5"}, {{{"songID", 1}, {"tempo", longId}}, "5"},
             {{{"songID", std::string(400, '7')}, {"tempo", std::string(400, '7')}}, "5"}, {{{"songID", 3}, {"tempo", 100}}, "3000000000"}}) {
        EXPECT_EQ(data(51, clear, client), json({{"code", -1}, {"message", "Reset practice minutes fail"}}));
    }
}

TEST_F(HostileRequestTest, AHalfClosedPeerGetsEveryAnswerIntact) {
    const auto port = start();
    test::RawWsPeer peer(port);
    ASSERT_TRUE(peer.upgraded());
    constexpr int kRequests = 3000;
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_TRUE(peer.sendText(R"({"methodName":1,"functionId":"p)" + std::to_string(i) + "\"}"));
    }
    peer.shutdownSending();
    bool malformed = false;
    const auto texts = peer.receiveAll(3s, malformed);
    EXPECT_FALSE(malformed) << "bytes that are no frame reached the peer";
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kRequests));
    for (int i = 0; i < kRequests; ++i) {
        const json answer = json::parse(texts[static_cast<std::size_t>(i)], nullptr, false);
        ASSERT_TRUE(answer.is_object()) << texts[static_cast<std::size_t>(i)].substr(0, 100);
        EXPECT_EQ(answer["functionId"], "p" + std::to_string(i));
    }
}

// A flow that fails as no flow should: what reaches the browser is an envelope, not its text.
class ThrowingFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) override {
        throw std::out_of_range("stod");
    }
};

// What the dispatcher sends back, without a network.
class RecordingConnection : public WebSocketConnection {
public:
    void send(std::string text) override { sent.push_back(std::move(text)); }
    void close() override {}
    std::uint16_t localPort() const override { return 0; }
    std::vector<std::string> sent;
};

// The session learns the asking connection and the web application's version from requests it
// reads, and nothing from one it refuses.
TEST(RequestDispatcher, AFailingFlowIsAnsweredWithAnEnvelopeNotItsText) {
    KeyvoraFlow session;
    FlowTable flows;
    flows.add<ThrowingFlow>(8);
    RequestDispatcher dispatcher(flows, session);
    MainQueue mainQueue;
    auto connection = std::make_shared<RecordingConnection>();
    mainQueue.sync([&] {
        dispatcher.receive(connection, {R"({"methodName":8,"functionId":"f","version":"web/2"})", true});
        dispatcher.receive(connection, {R"({"methodName":1,"data":[1],"version":"evil"})", true});
    });
    ASSERT_EQ(connection->sent.size(), 2u);
    const json answer = json::parse(connection->sent[0]);
    EXPECT_EQ(answer["functionId"], "f");
    EXPECT_EQ(answer["data"], json({{"code", -1}, {"message", "ERROR OCCURED WHEN PROCESSING"}}));
    EXPECT_EQ(connection->sent[1], "\"data\" is not a JSON object") << "the receive path's own refusal";
    EXPECT_EQ(session.webVersion.get(), "web/2");
    EXPECT_EQ(session.currentConnection.get().lock(), connection);
}

// A peer that sends pings and never reads their answers, far more than the sockets' buffers hold,
// is dropped at its own cap, at the service's total or when its write makes no progress: its
// queue goes with it, and others are served. It holds the client token, which its end frees.
TEST_F(HostileRequestTest, APeerThatNeverReadsIsDroppedAtACapOrAStalledWrite) {
    struct Case {
        const char* name;
        std::function<void(WebSocketLimits&)> limit;
    };
    const std::vector<Case> cases = {
        {"its cap", [](WebSocketLimits& limits) { limits.maxQueuedBytes = 64 * 1024; }},
        {"the total", [](WebSocketLimits& limits) { limits.budget = std::make_shared<OutgoingBudget>(128 * 1024); }},
        {"a stalled write", [](WebSocketLimits& limits) { limits.writeTimeout = 500ms; }},
    };
    // Each answer echoes its 8 KiB correlation id: 32 MB of answers overflow the kernel's socket
    // buffers (4 MB here) within a few hundred requests, so the drop comes early on any machine.
    const std::string ping = json({{"methodName", 1}, {"functionId", std::string(8 * 1024, 'f')}}).dump();
    constexpr int kRequests = 4'000;
    for (const auto& drop : cases) {
        limits_ = {};
        drop.limit(limits_);
        const auto port = start();
        test::RawWsPeer peer(port, 4096);
        ASSERT_TRUE(peer.upgraded());
        ASSERT_TRUE(peer.sendText(R"({"methodName":45,"data":{"token":"hog"}})"));
        ASSERT_TRUE(test::eventually([] { return KeyvoraFlow::shared().token.get() == "hog"; }));
        for (int i = 0; i < kRequests && peer.sendText(ping); ++i) {
        }
        EXPECT_TRUE(test::eventually([] { return KeyvoraFlow::shared().token.get().empty(); }, 10s)) << drop.name;
        EXPECT_TRUE(test::eventually([&] { return limits_.budget->used() == 0; })) << drop.name;
        EXPECT_TRUE(peer.closedByService(5s)) << drop.name;
        EXPECT_EQ(data(1, json::object()).value("pluginVersion", ""), getVersion()) << drop.name;
        browser_.reset();
        service_.reset();
    }
}

}  // namespace
}  // namespace kv

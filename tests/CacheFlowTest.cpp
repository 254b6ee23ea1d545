#include "core/CacheCipher.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include "support/InProcessService.h"
#include "support/MidiFileBuilder.h"
#include "support/RequestText.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kv {
namespace {

using nlohmann::json;

std::vector<std::uint8_t> song(int beats) {
    test::MidiTrackBuilder track;
    track.tempo(0, 500000).event(0, {0xC0, 40});
    for (int beat = 0; beat < beats; ++beat) track.event(480, {0x90, 60, 90}).event(240, {0x80, 60, 0});
    return test::midiFile(480, {track});
}

class CacheFlowTest : public test::InProcessService {
protected:
    void SetUp() override { startService(); }

    json call(int methodName, json data, const std::string& lang = "") {
        json envelope = test::request(methodName, "c", std::move(data));
        if (!lang.empty()) envelope["lang"] = lang;
        return InProcessService::call(envelope);
    }
    json saveSong(const json& id, const std::vector<std::uint8_t>& bytes, const std::string& stamp) {
        return call(6, {{"id", id}, {"midiFile", test::base64(bytes)}, {"lastMidiModified", stamp}});
    }
    static std::filesystem::path cached(const std::string& id) { return *getMidiCacheFolderPathWithSongID(id); }
    static std::vector<std::uint8_t> plainOf(const std::filesystem::path& path) {
        return decryptData(File::readFromFileToDataWithURL(path).value()).value_or(std::vector<std::uint8_t>{});
    }
};

TEST_F(CacheFlowTest, ASavedSongIsCheckedWithTheSameStampAndSummary) {
    const auto bytes = song(8);
    const json saved = saveSong(42, bytes, "2026-12-01 10:00");
    ASSERT_EQ(saved["code"], 0) << saved;
    EXPECT_EQ(saved["message"], "SUCCESS");
    EXPECT_EQ(saved["instruments"], json::array({{{"channel", 0}, {"program", 40}, {"name", "Violin"}, {"isPercussion", false}}}));
    EXPECT_EQ(saved["tempoMapMidi"].size(), 1u);

    const json checked = call(5, {{"id", "42"}});
    EXPECT_EQ(checked["code"], 0);
    EXPECT_EQ(checked["message"], "SUCCESS");
    EXPECT_EQ(checked["lastMidiModified"], "2026-12-01 10:00");
    EXPECT_EQ(checked["tempoMapMidi"], saved["tempoMapMidi"]);
    EXPECT_EQ(checked["instruments"], saved["instruments"]);

    // Never plain on disk: whole cipher blocks, and exactly the bytes sent once deciphered.
    const auto onDisk = File::readFromFileToDataWithURL(cached("42")).value();
    EXPECT_EQ(onDisk.size() % 16, 0u);
    EXPECT_GT(onDisk.size(), bytes.size());
    EXPECT_EQ(plainOf(cached("42")), bytes);

    // Line breaks in the Base64, a string id: the same song, a new stamp.
    std::string wrapped = test::base64(song(3));
    for (std::size_t at = 76; at < wrapped.size(); at += 77) wrapped.insert(at, "\r\n");
    EXPECT_EQ(call(6, {{"id", "42"}, {"midiFile", wrapped}, {"lastMidiModified", "later"}})["code"], 0);
    EXPECT_EQ(plainOf(cached("42")), song(3));
    EXPECT_EQ(call(5, {{"id", 42}})["lastMidiModified"], "later");
}

// A save that brings no file keeps the cached one; a missing, cut or damaged file is reported.
TEST_F(CacheFlowTest, NoFileKeepsTheCachedOneAndMissingOrDamagedFilesAreReported) {
    const auto bytes = song(4);
    ASSERT_EQ(saveSong(7, bytes, "s1")["code"], 0);
    for (const json& bad : {json({{"id", 7}}), json({{"id", 7}, {"midiFile", "!!!! ===="}}), json({{"id", 7}, {"midiFile", 12}})}) {
        browser().sendText(test::request(6, "c", bad).dump());
        const json envelope = next();
        EXPECT_EQ(envelope.value("errorMessage", ""), "SUCCESS") << envelope;
        EXPECT_FALSE(envelope.contains("data")) << envelope;
        EXPECT_EQ(plainOf(cached("7")), bytes) << bad;
    }
    EXPECT_EQ(call(6, {{"midiFile", test::base64(bytes)}}), json({{"code", -1}, {"message", "SONG ID NOT FOUND"}}));
    EXPECT_EQ(call(5, json::object()), json({{"code", -1}, {"message", "SONG ID NOT FOUND"}}));
    EXPECT_EQ(call(5, {{"id", 7}})["lastMidiModified"], "s1");

    const json notCached = {{"code", 0}, {"message", "MIDI file was not cached yet!"}};
    EXPECT_EQ(call(5, {{"id", 9}}), notCached);
    std::filesystem::remove(cached("7"));
    EXPECT_EQ(call(5, {{"id", 7}}), notCached);
    auto damaged = encryptData(bytes).value();
    damaged.back() ^= 0x5A;  // the padding no longer checks out
    for (const auto& onDisk : {std::vector<std::uint8_t>(33, 7), damaged}) {
        ASSERT_TRUE(File::writeToFileWithURL(cached("7"), onDisk));
        EXPECT_EQ(call(5, {{"id", 7}}), json({{"code", -1}, {"message", "MIDI file was not cached yet!"}}));
    }
    ASSERT_TRUE(File::writeToFileWithURL(cached("11"), encryptData(song(1)).value()));
    const json unrecorded = call(5, {{"id", 11}});
    EXPECT_EQ(unrecorded["message"], "THIS SONG IS NOT SAVED TO DATABASE");
    EXPECT_EQ(unrecorded["instruments"].size(), 1u);
}

TEST_F(CacheFlowTest, ScoresAreKeptPerLanguageWithOneStampPerExercise) {
    EXPECT_EQ(call(20, {{"exerciseId", 3}}, "vi"), json({{"code", 0}, {"message", "XML DID NOT SAVED"}}));
    EXPECT_EQ(call(19, {{"exerciseId", 3}, {"notation", "<score>bài một</score>"}, {"lastXmlModified", "t1"}}, "vi"),
              json({{"code", 0}, {"message", "SUCCESS"}}));
    EXPECT_EQ(call(20, {{"exerciseId", "3"}}, "en"), json({{"code", 0}, {"message", "XML DID NOT SAVED"}}));
    EXPECT_EQ(call(19, {{"exerciseId", "3"}, {"notation", "<score>one</score>"}, {"lastXmlModified", "t2"}}, "en")["code"], 0);
    EXPECT_EQ(call(20, {{"exerciseId", 3}}, "vi"),
              json({{"notation", "<score>bài một</score>"}, {"lastXmlModified", "t2"}, {"code", 0}, {"message", "SUCCESS"}}));

    // No notation: the write fails and the score cached before stays.
    EXPECT_EQ(call(19, {{"exerciseId", 3}, {"lastXmlModified", "t3"}}, "vi"),
              json({{"code", -1}, {"message", "Write xml data to file fail"}}));
    EXPECT_EQ(call(20, {{"exerciseId", 3}}, "vi")["notation"], "<score>bài một</score>");

    std::filesystem::remove(*getXMLCacheFolderPathWithSongID("3", "en"));
    EXPECT_EQ(call(20, {{"exerciseId", 3}}, "en")["message"], "XML DID NOT SAVED");
    ASSERT_TRUE(File::writeToFileWithURL(*getXMLCacheFolderPathWithSongID("4", "vi"), encryptData(song(1)).value()));
    EXPECT_EQ(call(20, {{"exerciseId", 4}}, "vi"), json({{"code", 0}, {"message", "XML DID NOT SAVE IN DATABASE"}}));
}

TEST_F(CacheFlowTest, HostileIdsAndLanguagesTouchNothing) {
    const auto entries = [] {
        std::error_code error;
        return std::distance(std::filesystem::directory_iterator(File::getRootPath() / "Cache", error), {});
    };
    const auto before = entries();
    for (const json& id : {json("../../x"), json("a/b"), json("abc"), json(std::string(5000, '9')), json("99999999999"),
                           json::array({1}), json(nullptr)}) {
        EXPECT_EQ(call(6, {{"id", id}, {"midiFile", test::base64(song(1))}})["code"], -1) << id;
        EXPECT_EQ(call(5, {{"id", id}})["code"], -1) << id;
        EXPECT_EQ(call(19, {{"exerciseId", id}, {"notation", "x"}}, "vi"),
                  json({{"code", -1}, {"message", "exerciseId NOT FOUND"}})) << id;
    }
    for (const std::string& lang : {std::string("../.."), std::string("a/b"), std::string(300, 'v'), std::string("v\ni")}) {
        EXPECT_EQ(call(19, {{"exerciseId", 1}, {"notation", "x"}}, lang), json({{"code", -1}, {"message", "lang NOT VALID"}}));
        EXPECT_EQ(call(20, {{"exerciseId", 1}}, lang)["code"], -1);
    }
    EXPECT_EQ(call(19, {{"exerciseId", 1}, {"notation", "x"}}), json({{"code", -1}, {"message", "lang NOT VALID"}}));
    EXPECT_EQ(entries(), before);
}

}  // namespace
}  // namespace kv

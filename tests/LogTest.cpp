#include "base/Log.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace kv {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const fs::path& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::string contentOf(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Log, FirstWriteCreatesTheFolderAndLinesHaveTheirLevelPrefix) {
    test::TempDirectory root;
    Log log(root.path() / "Logger");
    log.writeText("x", kLogDebug);
    log.writeText("start", kLogAppState);
    log.writeText("note", kLogInfo);
    log.writeText("bad", kLogError);
    log.writeText("odd", 9);
    const auto lines = linesOf(root.path() / "Logger" / "logfile-0.log");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[[^\]]+\]: 🟢 DEBUG     ➯ x)"))) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("]: 🎹 APPSTATE  ➯ start")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("]: ❤️ INFO      ➯ note")) << lines[2];
    EXPECT_TRUE(lines[3].ends_with("]: 🚫 ERROR     ➯ bad")) << lines[3];
    EXPECT_TRUE(lines[4].ends_with("]:           ➯ odd")) << lines[4];
}

TEST(Log, RotationShiftsFilesAndDeletesTheOldest) {
    test::TempDirectory root;
    const fs::path folder = root.path() / "Logger";
    Log log(folder, 4, 1);  // rotate at 1 KiB
    const std::string filler(230, 'a');
    for (int file = 0; file < 6; ++file) {
        for (int i = 0; i < 4; ++i) log.writeText("file" + std::to_string(file) + " " + filler, kLogInfo);
    }
    // Every fourth line crosses 1 KiB: the line that did is the last line of logfile-1.log.
    EXPECT_FALSE(fs::exists(folder / "logfile-0.log"));
    EXPECT_FALSE(fs::exists(folder / "logfile-4.log"));
    for (int index = 1; index <= 3; ++index) {
        const auto lines = linesOf(folder / Log::lognameWithNum("logfile", index));
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_NE(lines.back().find("file" + std::to_string(6 - index) + " "), std::string::npos);
    }
}

TEST(Log, AGapStopsTheShift) {
    test::TempDirectory root;
    const fs::path folder = root.path() / "Logger";
    Log log(folder, 4, 1);
    fs::create_directories(folder);
    std::ofstream(folder / "logfile-1.log") << "one\n";
    std::ofstream(folder / "logfile-3.log") << "three\n";
    log.writeText(std::string(1100, 'z'), kLogInfo);
    EXPECT_FALSE(fs::exists(folder / "logfile-0.log"));
    EXPECT_NE(contentOf(folder / "logfile-1.log").find("zzz"), std::string::npos);
    EXPECT_EQ(contentOf(folder / "logfile-2.log"), "one\n");
    EXPECT_EQ(contentOf(folder / "logfile-3.log"), "three\n");
}

TEST(Log, ConcurrentWritersLeaveWholeLinesOnly) {
    test::TempDirectory root;
    const fs::path folder = root.path() / "Logger";
    Log log(folder, 4, 64);
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i) {
                log.writeText("writer" + std::to_string(t) + " line" + std::to_string(i) + " " +
                                  std::string(100, static_cast<char>('a' + t)) + " end",
                              kLogDebug);
            }
        });
    }
    for (auto& writer : writers) writer.join();

    const std::regex whole(R"(\[[^\]]+\]: 🟢 DEBUG     ➯ writer(\d) line\d+ ([a-d])\2{99} end)");
    int total = 0;
    for (int index = 0; index < 4; ++index) {
        const fs::path path = folder / Log::lognameWithNum("logfile", index);
        if (!fs::exists(path)) continue;
        for (const auto& line : linesOf(path)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
            EXPECT_EQ(match[2].str()[0], 'a' + std::stoi(match[1].str()));
            ++total;
        }
    }
    // 4 files of about 64 KiB hold all 1200 lines of about 170 bytes.
    EXPECT_EQ(total, kThreads * kLines);
}

TEST(Log, AFolderThatCannotBeMadeDropsTheLineQuietly) {
    test::TempDirectory root;
    std::ofstream(root.path() / "file") << "not a folder";
    Log log(root.path() / "file" / "Logger");
    log.writeText("lost", kLogError);
    EXPECT_FALSE(fs::exists(root.path() / "file" / "Logger"));
}

}  // namespace
}  // namespace kv

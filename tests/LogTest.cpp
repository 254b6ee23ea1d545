#include "base/Log.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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

TEST(Log, FirstWriteCreatesTheFolderAndLinesHaveTheirLevelPrefix) {
    test::TempDirectory root;
    Log log(root.path() / "Logger");
    const std::vector<std::pair<int, std::string>> written = {
        {kLogDebug, "]: 🟢 DEBUG     ➯ x"}, {kLogAppState, "]: 🎹 APPSTATE  ➯ x"}, {kLogInfo, "]: ❤️ INFO      ➯ x"},
        {kLogError, "]: 🚫 ERROR     ➯ x"}, {9, "]:           ➯ x"}};
    for (const auto& [level, suffix] : written) log.writeText("x", level);
    const auto lines = linesOf(root.path() / "Logger" / "logfile-0.log");
    ASSERT_EQ(lines.size(), written.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].starts_with("[") && lines[i].ends_with(written[i].second)) << lines[i];
    }
}

// logfile-0 is the file being written; a full one becomes logfile-1 and the others move up, the
// last falling off, until a missing file stops the shift.
TEST(Log, RotationShiftsFilesUpToAGapAndDeletesTheOldest) {
    test::TempDirectory root;
    const fs::path folder = root.path() / "Logger";
    {
        Log log(folder, 4, 1);  // rotate at 1 KiB
        for (int file = 0; file < 6; ++file) {
            for (int i = 0; i < 4; ++i) log.writeText("file" + std::to_string(file) + " " + std::string(230, 'a'), kLogInfo);
        }
        EXPECT_FALSE(fs::exists(folder / "logfile-0.log"));
        EXPECT_FALSE(fs::exists(folder / "logfile-4.log"));
        for (int index = 1; index <= 3; ++index) {
            const auto lines = linesOf(folder / Log::lognameWithNum("logfile", index));
            ASSERT_EQ(lines.size(), 4u);
            EXPECT_NE(lines.back().find("file" + std::to_string(6 - index) + " "), std::string::npos);
        }
    }
    fs::remove(folder / "logfile-2.log");
    Log log(folder, 4, 1);
    log.writeText(std::string(1100, 'z'), kLogInfo);
    EXPECT_NE(linesOf(folder / "logfile-1.log").at(0).find("zzz"), std::string::npos);
    EXPECT_NE(linesOf(folder / "logfile-2.log").at(0).find("file5"), std::string::npos);
    EXPECT_NE(linesOf(folder / "logfile-3.log").at(0).find("file3"), std::string::npos) << "kept: beyond the gap";
}

TEST(Log, ConcurrentWritersLeaveWholeLinesOnly) {
    test::TempDirectory root;
    const fs::path folder = root.path() / "Logger";
    Log log(folder, 4, 64);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < 300; ++i) {
                log.writeText("writer" + std::to_string(t) + " " + std::string(100, static_cast<char>('a' + t)) + " end", kLogDebug);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    const std::regex whole(R"(\[[^\]]+\]: 🟢 DEBUG     ➯ writer(\d) ([a-d])\2{99} end)");
    int total = 0;
    for (int index = 0; index < 4; ++index) {
        for (const auto& line : linesOf(folder / Log::lognameWithNum("logfile", index))) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
            EXPECT_EQ(match[2].str()[0], 'a' + std::stoi(match[1].str()));
            ++total;
        }
    }
    EXPECT_EQ(total, 1200) << "four files of 64 KiB hold every line";
}

}  // namespace
}  // namespace kv

#include "support/TempDirectory.h"

#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace kv {
namespace {

// Runs the saver until SIGKILL after `lifetime`; answers the numbers it acknowledged.
std::set<long> saveUntilKilled(const std::string& database, long first, std::chrono::milliseconds lifetime) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string binary = KV_PRACTICE_SAVER;
    std::string firstText = std::to_string(first);
    std::string databaseText = database;
    char* argv[] = {binary.data(), databaseText.data(), firstText.data(), nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    std::this_thread::sleep_for(lifetime);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    std::set<long> acknowledged;
    std::istringstream lines(output);
    // A line cut by the kill has no line feed: only whole lines were acknowledged.
    for (std::string line; std::getline(lines, line);) {
        if (!lines.eof()) acknowledged.insert(std::stol(line));
    }
    return acknowledged;
}

TEST(CrashConsistency, AKilledSaveNeverLosesAnAcknowledgedRowNorCorruptsTheDatabase) {
    test::TempDirectory folder;
    const std::string database = (folder.path() / "keyvora.sqlite").string();
    std::mt19937 random(20261206);
    std::set<long> acknowledged;
    long next = 1;
    for (int round = 0; round < 50; ++round) {
        const auto lifetime = std::chrono::milliseconds(std::uniform_int_distribution<int>(30, 250)(random));
        const auto saved = saveUntilKilled(database, next, lifetime);
        acknowledged.insert(saved.begin(), saved.end());
        next += 1'000'000;
        if (!std::filesystem::exists(database)) {
            // A kill before the saver made its database (a slow start on a loaded machine).
            ASSERT_TRUE(acknowledged.empty()) << "saves acknowledged without a database in round " << round;
            continue;
        }

        SQLite::Database check(database, SQLite::OPEN_READWRITE);
        ASSERT_EQ(check.execAndGet("PRAGMA integrity_check").getString(), "ok") << "round " << round;
        if (!check.tableExists("PracticeMinutes")) {
            ASSERT_TRUE(acknowledged.empty()) << "saves acknowledged without their table in round " << round;
            continue;
        }
        std::set<long> stored;
        SQLite::Statement rows(check, "SELECT seconds FROM PracticeMinutes");
        while (rows.executeStep()) stored.insert(std::stol(rows.getColumn(0).getString()));
        for (long number : acknowledged) ASSERT_TRUE(stored.count(number)) << "lost " << number << " in round " << round;
    }
    EXPECT_GT(acknowledged.size(), 20u);
}

}  // namespace
}  // namespace kv

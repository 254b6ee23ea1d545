#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// When the running test started, in seconds of the steady clock; 0 between tests. Static and
// trivially destroyed: the watch reads it until the process ends.
std::atomic<std::int64_t> testStarted = 0;

std::int64_t steadySeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class TestStarts : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { testStarted = steadySeconds(); }
    void OnTestEnd(const testing::TestInfo&) override { testStarted = 0; }
};

// A test that runs for minutes has hung: its threads' stacks are printed, from gdb where there is
// one, and the process aborts, so that a hang seen once on a loaded machine names where it waits.
void watchForStalls(std::int64_t limitSeconds) {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::int64_t started = testStarted;
        if (started && steadySeconds() - started > limitSeconds) break;
    }
    std::fprintf(stderr, "\nThe test has run for over %llds: the stacks of its threads follow\n", static_cast<long long>(limitSeconds));
    std::fflush(stderr);
    const std::string pid = std::to_string(getpid());
    if (const pid_t gdb = fork(); gdb == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execlp("gdb", "gdb", "-batch", "-nx", "-p", pid.c_str(), "-ex", "thread apply all bt", nullptr);
        _exit(127);
    } else if (gdb > 0) {
        waitpid(gdb, nullptr, 0);
    }
    std::abort();
}

}  // namespace

// Each test process keeps its store root, and with it the log, to itself: tests that run side
// by side neither share nor rotate away each other's lines.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* limit = std::getenv("KV_TEST_STALL_SECONDS");
    testing::UnitTest::GetInstance()->listeners().Append(new TestStarts);
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
    std::thread(watchForStalls, limit ? std::atoi(limit) : 600).detach();
    const kv::test::TempDirectory dataHome;
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    return RUN_ALL_TESTS();
}

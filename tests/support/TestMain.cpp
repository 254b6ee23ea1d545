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

// A test that runs for minutes has hung: its threads' stacks are printed, from gdb where there is
// one, and the process aborts, so that a hang seen once on a loaded machine names where it waits.
class StallWatch : public testing::EmptyTestEventListener {
public:
    explicit StallWatch(std::chrono::seconds limit) : limit_(limit) {
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
        std::thread([this] { watch(); }).detach();
    }
    void OnTestStart(const testing::TestInfo&) override { started_ = now(); }
    void OnTestEnd(const testing::TestInfo&) override { started_ = 0; }

private:
    static std::int64_t now() {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    void watch() const {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const std::int64_t started = started_;
            if (started && now() - started > limit_.count()) break;
        }
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        std::fprintf(stderr, "\n%s.%s has run for over %llds: the stacks of its threads follow\n",
                     test ? test->test_suite_name() : "?", test ? test->name() : "?", static_cast<long long>(limit_.count()));
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

    std::chrono::seconds limit_;
    std::atomic<std::int64_t> started_ = 0;
};

}  // namespace

// Each test process keeps its store root, and with it the log, to itself: tests that run side
// by side neither share nor rotate away each other's lines.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* limit = std::getenv("KV_TEST_STALL_SECONDS");
    testing::UnitTest::GetInstance()->listeners().Append(new StallWatch(std::chrono::seconds(limit ? std::atoi(limit) : 600)));
    const kv::test::TempDirectory dataHome;
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    return RUN_ALL_TESTS();
}

#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kv::test {

pid_t spawnChild(const std::vector<std::string>& arguments, int input, int output) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // Only async-signal-safe calls from here to exec: the parent has other threads.
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // a JACK server ends cleanly on SIGTERM, leaving no stale entry
    if (getppid() != parent) _exit(1);
    const int nowhere = open("/dev/null", O_RDWR);
    dup2(input >= 0 ? input : nowhere, STDIN_FILENO);
    dup2(output >= 0 ? output : nowhere, STDOUT_FILENO);
    dup2(nowhere, STDERR_FILENO);
    close_range(3, ~0U, 0);  // what the test process holds open is not the child's to keep
    execvp(argv[0], argv.data());
    _exit(127);
}

void reapChild(pid_t pid, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        usleep(10'000);
    }
}

}  // namespace kv::test

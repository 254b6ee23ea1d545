#include "platform/desktop/Launcher.h"

#include "platform/files/Descriptors.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace kv::launcher {

std::optional<std::filesystem::path> findProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        const std::filesystem::path candidate = std::filesystem::path(folders.substr(0, colon)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    }
    return std::nullopt;
}

// Forks twice so that the program is adopted by init at once; a pipe closed on exec tells
// whether the exec itself succeeded. Only async-signal-safe calls after the fork.
bool launchDetached(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return false;
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            closeAllOnExec();  // the program gets standard input, output and error only
            ::execv(argv[0], argv.data());
            const int error = errno;
            (void)!::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    if (child > 0) ::waitpid(child, nullptr, 0);
    int error = 0;
    const bool failed = child < 0 || ::read(report[0], &error, sizeof error) == sizeof error;
    ::close(report[0]);
    return !failed;
}

std::optional<std::string> outputOf(const std::vector<std::string>& arguments) {
    constexpr std::size_t kMaxOutput = 1 << 20;
    if (arguments.empty()) return std::nullopt;
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t child = -1;
    const bool started = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t got; started && (got = ::read(output[0], chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        if (text.size() < kMaxOutput) text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(output[0]);
    if (!started) return std::nullopt;
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
    return text;
}

}  // namespace kv::launcher

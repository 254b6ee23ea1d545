#include "platform/desktop/Launcher.h"

#include "platform/files/Descriptors.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace kv::launcher

#include "support/HttpsTestServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

extern char** environ;

namespace kv::test {

HttpsTestServer::HttpsTestServer(Scheme scheme) : certificate_(makeCertificate(keys_.path(), "https")), scheme_(scheme) {
    int output[2];
    if (pipe(output) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    // Not the test's own error output: a server left behind by a test that crashed must not hold
    // the test runner's pipe open.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> arguments = {"/usr/bin/python3", KV_HTTPS_TEST_SERVER, folder_.path().string()};
    if (scheme == Scheme::https) {
        arguments.push_back(certificate_.certificatePem.string());
        arguments.push_back(certificate_.keyPem.string());
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    std::string line;
    char c = 0;
    while (spawned == 0 && read(output[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(output[0]);
    if (spawned != 0 || !line.starts_with("PORT ")) throw std::runtime_error("the HTTPS test server did not start");
    port_ = static_cast<std::uint16_t>(std::stoi(line.substr(5)));
}

HttpsTestServer::~HttpsTestServer() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string HttpsTestServer::url(const std::string& path) const {
    return (scheme_ == Scheme::https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

void HttpsTestServer::put(const std::string& name, const std::string& content) const {
    const auto path = folder_.path() / name;
    if (content.empty()) {
        std::filesystem::remove(path);
        return;
    }
    std::ofstream(path, std::ios::binary) << content;
}

void HttpsTestServer::copy(const std::filesystem::path& from, const std::string& name) const {
    std::filesystem::copy_file(from, folder_.path() / name, std::filesystem::copy_options::overwrite_existing);
}

std::vector<std::string> HttpsTestServer::requests() const {
    std::ifstream log(folder_.path() / "requests.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

}  // namespace kv::test

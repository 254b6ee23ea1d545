#include "platform/net/PortListeners.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kListening = "0A";

// The inodes of the sockets listening on the port, on any address.
std::set<std::string> listeningSockets(std::uint16_t port) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ":%04X", port);
    std::set<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream rows(table);
        std::string line;
        std::getline(rows, line);  // the heading
        while (std::getline(rows, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            if (state == kListening && local.ends_with(suffix)) inodes.insert(inode);
        }
    }
    return inodes;
}

bool holdsAny(const fs::path& process, const std::set<std::string>& inodes) {
    std::error_code error;
    for (fs::directory_iterator it(process / "fd", error), end; !error && it != end; it.increment(error)) {
        std::error_code unreadable;
        const std::string target = fs::read_symlink(it->path(), unreadable).string();
        if (target.starts_with("socket:[") && inodes.contains(target.substr(8, target.size() - 9))) return true;
    }
    return false;
}

std::string commandName(const fs::path& process) {
    std::string name;
    std::getline(std::ifstream(process / "comm"), name);
    return name;
}

}  // namespace

std::vector<PortListener> portListeners(std::uint16_t port) {
    const auto inodes = listeningSockets(port);
    if (inodes.empty()) return {};
    std::vector<PortListener> listeners;
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (holdsAny(it->path(), inodes)) listeners.push_back({static_cast<pid_t>(std::stol(name)), commandName(it->path())});
    }
    if (listeners.empty()) listeners.push_back({});
    return listeners;
}

bool listensOn(pid_t pid, std::uint16_t port) {
    const auto inodes = listeningSockets(port);
    return !inodes.empty() && holdsAny(fs::path("/proc") / std::to_string(pid), inodes);
}

}  // namespace kv

#include "support/Listener.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace kv::test {

namespace {

constexpr const char* kListening = "0A";
constexpr const char* kLoopback = "0100007F";  // 127.0.0.1 as /proc/net/tcp writes it

// The inodes of the sockets listening on 127.0.0.1:port.
std::set<std::string> listeningInodes(std::uint16_t port) {
    std::set<std::string> inodes;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    char address[16];
    std::snprintf(address, sizeof address, "%s:%04X", kLoopback, port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        if (local == address && state == kListening) inodes.insert(inode);
    }
    return inodes;
}

}  // namespace

bool processListensOn(pid_t pid, std::uint16_t port) {
    const auto inodes = listeningInodes(port);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.starts_with("socket:[") && inodes.contains(target.substr(8, target.size() - 9))) return true;
    }
    return false;
}

}  // namespace kv::test

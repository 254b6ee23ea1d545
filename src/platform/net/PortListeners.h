#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// A process listening on a TCP port of this machine, as /proc tells it.
struct PortListener {
    pid_t pid = 0;         // 0: a process this user cannot see
    std::string program;   // its command name
};

// Every process listening on the port, on any IPv4 or IPv6 address.
std::vector<PortListener> portListeners(std::uint16_t port);
// Whether this process is one of them.
bool listensOn(pid_t pid, std::uint16_t port);

}  // namespace kv

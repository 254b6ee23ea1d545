#pragma once

#include <sys/types.h>

#include <cstdint>

namespace kv::test {

// Whether the process holds a socket listening on the TCP port of 127.0.0.1: a test of the
// service makes sure it talks to the copy it started, not to another one on the same port.
bool processListensOn(pid_t pid, std::uint16_t port);

}  // namespace kv::test

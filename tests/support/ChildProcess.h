#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kv::test {

// Starts a program of the tests (a JACK server, a simulated keyboard) that is killed when the
// test process ends, however it ends: an aborted test leaves no server behind to use up the
// system's JACK servers. Its standard output goes to `output` (a descriptor; -1: nowhere), its
// input comes from `input` (-1: nothing), its errors go nowhere. -1 when it cannot start.
pid_t spawnChild(const std::vector<std::string>& arguments, int input = -1, int output = -1);

// Waits for the child to end by itself, and kills it once the time has passed: a program stuck
// in its shutdown does not hang the test.
void reapChild(pid_t pid, std::chrono::milliseconds within);

}  // namespace kv::test

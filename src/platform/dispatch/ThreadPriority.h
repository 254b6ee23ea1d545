#pragma once

#include <string>

namespace kv {

// Raises the calling thread above ordinary work for timing-critical loops: real-time FIFO
// scheduling when permitted, else a lower nice value, else nothing. Answers what it got.
std::string raiseCurrentThreadPriority();

// The name the thread shows in tools (at most 15 characters).
void nameCurrentThread(const char* name);

}  // namespace kv

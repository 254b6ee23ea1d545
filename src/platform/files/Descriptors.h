#pragma once

namespace kv {

// Marks every descriptor above standard error close-on-exec: what libraries open inheritable (and
// a program the service starts would keep) stays with the service. Async-signal-safe, so a
// forked child may call it before its exec.
void closeAllOnExec();

}  // namespace kv

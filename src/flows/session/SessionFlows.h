#pragma once

#include "core/FlowTable.h"

namespace kv {

// Ping, user session, plugin information, keep-alive, the client token and the
// encryption-key flows.
void addSessionFlows(FlowTable& table);

}  // namespace kv

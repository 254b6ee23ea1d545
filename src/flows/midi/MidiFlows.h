#pragma once

#include "core/FlowTable.h"

namespace kv {

// The device, key-range, wait-mode and latency flows.
void addMidiFlows(FlowTable& table);

}  // namespace kv

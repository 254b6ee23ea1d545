#pragma once

#include "core/FlowTable.h"

namespace kv {

// The practice-minute flows.
void addStoreFlows(FlowTable& table);

}  // namespace kv

#pragma once

#include "core/FlowTable.h"

namespace kv {

void addLedFlows(FlowTable& table);

}  // namespace kv

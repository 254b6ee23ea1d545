#pragma once

#include "core/FlowTable.h"

namespace kv {

// The service's method table: every subsystem's flows under their numbers.
FlowTable makeAllFlows();

}  // namespace kv

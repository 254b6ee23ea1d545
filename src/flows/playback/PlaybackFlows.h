#pragma once

#include "core/FlowTable.h"

namespace kv {

// Prepare, play, stop, and the volume flows.
void addPlaybackFlows(FlowTable& table);

}  // namespace kv

#pragma once

#include "core/KeyvoraFlow.h"

namespace kv {

// The older web application keeps practice segments without tempo and positions.
inline bool isOlderWebApplication() {
    return KeyvoraFlow::shared().webVersion.get() == "oldgen/web";
}

}  // namespace kv

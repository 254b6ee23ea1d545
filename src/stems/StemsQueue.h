#pragma once

#include "base/SharedObject.h"
#include "platform/dispatch/SerialQueue.h"

namespace kv {

// The thread ("Stems") on which backing-track downloads deliver their completion: never the
// main queue, which waits for it during a preparation.
class StemsQueue : public SerialQueue {
public:
    static StemsQueue& shared() { return Shared<StemsQueue>::get(); }

    StemsQueue() : SerialQueue("Stems") {}
};

}  // namespace kv

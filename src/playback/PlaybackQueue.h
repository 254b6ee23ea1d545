#pragma once

#include "base/SharedObject.h"
#include "platform/dispatch/SerialQueue.h"

namespace kv {

// The thread ("Playback") on which each play counts off and hands its song to the synthesizer,
// one play after the other: a superseded play's loops end at their next wake-up.
class PlaybackQueue : public SerialQueue {
public:
    static PlaybackQueue& shared() { return Shared<PlaybackQueue>::get(); }

    PlaybackQueue() : SerialQueue("Playback") {}
};

}  // namespace kv

#pragma once

#include "audio/AudioBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kv {

// Called once a scheduled buffer has been played to its end (played, with the host time at which
// its first frame was heard) or dropped by a stop.
using PlayerCompletionHandler = std::function<void(bool played, std::uint64_t startedAt)>;

// A finished buffer leaves the audio thread through a queue, so that it is released and its
// handler runs elsewhere.
struct PlayerCompletion {
    PlayerCompletionHandler handler;
    std::shared_ptr<const AudioBuffer> buffer;
    bool played = false;
    std::uint64_t startedAt = 0;
};

}  // namespace kv

#pragma once

#include "audio/PlayerCompletion.h"
#include "audio/RenderContext.h"

#include <cstdint>
#include <vector>

namespace kv {

// A node of the engine's graph. prepare() runs off the audio thread before the node first
// renders: it learns the rate and the most frames a render asks for, and allocates what it needs.
// render() runs on the audio thread: it adds the node's sound into the context's output, and
// never allocates, locks or waits.
class AudioNode {
public:
    virtual ~AudioNode() = default;
    virtual void prepare(double sampleRate, std::uint32_t maxFrames) = 0;
    virtual void render(const RenderContext& context) = 0;
    // Off the audio thread, once the node has left the graph and no render can reach it: hands
    // over what it still holds for its owners.
    virtual void takeUnfinished(std::vector<PlayerCompletion>&) {}
};

}  // namespace kv

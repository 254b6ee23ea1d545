#pragma once

#include "platform/audio/RenderContext.h"

#include <cstdint>

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
};

}  // namespace kv

#pragma once

#include "platform/audio/RenderContext.h"

namespace kv {

// A node of the engine's graph. render() runs on the audio thread: it adds the node's sound into
// the context's output, and never allocates, locks or waits.
class AudioNode {
public:
    virtual ~AudioNode() = default;
    virtual void render(const RenderContext& context) = 0;
};

}  // namespace kv

#include "platform/audio/SourceNode.h"

namespace kv {

// The callback adds into the output, as every node does: its zeroed scratch is the mixer's.
void SourceNode::render(const RenderContext& context) {
    render_(context.output, context.frames, context.hostTime);
}

}  // namespace kv

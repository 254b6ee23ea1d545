#include "audio/MixerNode.h"


#include <algorithm>

namespace kv {

void MixerNode::prepare(double, std::uint32_t maxFrames) {
    scratch_.assign(static_cast<std::size_t>(maxFrames) * 2, 0.0F);
}

void MixerNode::render(const RenderContext& context) {
    const Inputs* inputs = inputs_.load(std::memory_order_acquire);
    if (!inputs || inputs->empty()) return;
    const std::size_t samples = static_cast<std::size_t>(context.frames) * 2;
    std::fill_n(scratch_.begin(), samples, 0.0F);
    RenderContext inner = context;
    inner.output = scratch_.data();
    for (AudioNode* input : *inputs) input->render(inner);
    const float gain = gain_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < samples; ++i) context.output[i] += scratch_[i] * gain;
}

}  // namespace kv

#pragma once

#include "platform/audio/AudioNode.h"

#include <functional>

namespace kv {

// Pulls its sound from a render callback, which runs on the audio thread and gets zeroed
// interleaved stereo frames to fill and the host time of the first frame.
class SourceNode : public AudioNode {
public:
    using Render = std::function<void(float* output, std::uint32_t frames, std::uint64_t hostTime)>;

    explicit SourceNode(Render render) : render_(std::move(render)) {}
    void prepare(double, std::uint32_t) override {}
    void render(const RenderContext& context) override;

private:
    Render render_;
};

}  // namespace kv

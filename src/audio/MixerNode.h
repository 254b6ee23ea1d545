#pragma once

#include "audio/AudioNode.h"

#include <atomic>
#include <vector>

namespace kv {

// Sums its inputs and scales them by a linear output gain.
class MixerNode : public AudioNode {
public:
    using Inputs = std::vector<AudioNode*>;

    void prepare(double sampleRate, std::uint32_t maxFrames) override;
    void render(const RenderContext& context) override;

    void setOutputVolume(float gain) { gain_.store(gain, std::memory_order_relaxed); }
    float outputVolume() const { return gain_.load(std::memory_order_relaxed); }

    // The engine edits the inputs: it publishes a new list and frees the old one once no render
    // can be reading it.
    const Inputs* exchangeInputs(const Inputs* inputs) { return inputs_.exchange(inputs); }

private:
    std::atomic<const Inputs*> inputs_{nullptr};
    std::atomic<float> gain_{1.0F};
    std::vector<float> scratch_;
};

}  // namespace kv

#pragma once

#include "audio/AudioNode.h"
#include "audio/MidiReceiver.h"

#include <boost/lockfree/queue.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace kv {

// One General MIDI synthesizer (FluidSynth with a SoundFont) with 32 MIDI channels, rendering
// inside the engine. Messages come from any thread, now or at a host time, and are applied by
// the audio thread on the frame of their time, so timing does not depend on when their sender
// woke up. FluidSynth starts voices only at the edge of its 64-frame blocks: a message takes
// effect at the edge nearest its time, within half a block (0.67 ms at 48 kHz).
//
// Only the samples of the presets in use are in memory. A program change loads its preset's
// samples on the sender's thread, onto a hidden keeper channel, before the audio thread selects
// it: the audio thread never reads a file, and a preset a channel leaves stays loaded while a
// keeper holds it.
class Synthesizer : public AudioNode, public MidiReceiver {
public:
    static constexpr int kChannels = 32;
    static constexpr std::uint32_t kBlockFrames = 64;
    static constexpr int kKeepers = 32;  // presets kept loaded, the least recently asked for leaves

    // Throws std::runtime_error when FluidSynth or the SoundFont cannot be loaded.
    Synthesizer(double sampleRate, const std::filesystem::path& soundFont);

    // A channel message: command 0x80 … 0xE0 (the status without its channel), channel 0 … 31.
    // False when the queue is full or the message is not one. A program change may read the
    // SoundFont before it returns.
    bool send(std::uint8_t command, int channel, std::uint8_t data1, std::uint8_t data2,
              std::uint64_t hostTime = kNow) override;
    void discardTimed(int channel) override;
    // Loads the program's samples now (they stay while a keeper holds them).
    void preload(int channel, std::uint8_t program) override;

    // At another rate than the one it was made for, FluidSynth is made anew for it.
    void prepare(double sampleRate, std::uint32_t maxFrames) override;
    void render(const RenderContext& context) override;

private:
    struct Event {
        std::uint64_t hostTime = 0;
        std::uint64_t sequence = 0;
        std::uint8_t command = 0;
        std::uint8_t channel = 0;
        std::uint8_t data1 = 0;
        std::uint8_t data2 = 0;
        std::int64_t frame = 0;  // audio thread: where it falls in the buffer being rendered
    };
    static constexpr std::size_t kMaxPending = 8192;

    static constexpr std::uint8_t kDiscard = 0;  // not a MIDI command: discards what came before
    void take(const Event& event);
    void apply(const Event& event);
    void write(std::uint32_t from, std::uint32_t to, float* output);
    void keepPreset(int channel, int program);
    void load(double sampleRate);
    static constexpr int kRestoredControls = 120;
    struct ChannelState {
        int bank = 0;
        int program = 0;
        std::array<int, kRestoredControls> controls{};
        int pitchBend = 8192;
    };
    std::vector<ChannelState> channelStates() const;
    void restore(const std::vector<ChannelState>& states);

    struct SettingsDelete {
        void operator()(fluid_settings_t* settings) const;
    };
    struct SynthDelete {
        void operator()(fluid_synth_t* synth) const;
    };

    std::filesystem::path soundFont_;
    std::unique_ptr<fluid_settings_t, SettingsDelete> settings_;
    std::unique_ptr<fluid_synth_t, SynthDelete> synth_;  // after its settings: goes first
    int soundFontId_ = 0;
    // Every FluidSynth call but rendering is made under it; the audio thread only tries it, and
    // while a preset loads it renders what sounds and applies its events a buffer later.
    std::mutex fluidMutex_;
    struct Kept {
        int bank = -1;
        int program = -1;
        std::uint64_t asked = 0;
    };
    std::array<Kept, kKeepers> kept_{};  // under fluidMutex_
    std::uint64_t asks_ = 0;              // under fluidMutex_
    std::array<std::atomic<std::uint8_t>, kChannels> bank_{};  // the last bank select sent
    boost::lockfree::queue<Event, boost::lockfree::capacity<8192>> events_;
    std::atomic<std::uint64_t> sequence_{0};
    std::array<Event, kMaxPending> pending_{};  // audio thread only
    std::size_t pendingCount_ = 0;
    std::uint64_t written_ = 0;  // frames FluidSynth has given: its block grid
    double sampleRate_ = 0;
    std::vector<float> scratch_;
};

}  // namespace kv

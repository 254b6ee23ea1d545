#include "audio/Synthesizer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <stdexcept>

namespace kv {

namespace {
constexpr int kDrumBank = 128;
bool isDrumChannel(int channel) {
    return channel % 16 == 9;
}
}  // namespace

void Synthesizer::SettingsDelete::operator()(fluid_settings_t* settings) const {
    delete_fluid_settings(settings);
}

void Synthesizer::SynthDelete::operator()(fluid_synth_t* synth) const {
    delete_fluid_synth(synth);
}

Synthesizer::Synthesizer(double sampleRate, const std::filesystem::path& soundFont) : soundFont_(soundFont) {
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    load(sampleRate);
}

// FluidSynth is made for one rate: another one needs a new synthesizer, whose channels take the
// programs and controllers the old one's had.
void Synthesizer::load(double sampleRate) {
    const auto channels = channelStates();
    synth_.reset();
    settings_.reset(new_fluid_settings());
    if (!settings_) throw std::runtime_error("FluidSynth settings cannot be made");
    fluid_settings_t* settings = settings_.get();
    fluid_settings_setint(settings, "synth.midi-channels", kChannels + kKeepers);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    // Calls queue their voice changes for the rendering thread, which renders without the lock:
    // a preset loading elsewhere never stops what already sounds.
    fluid_settings_setint(settings, "synth.threadsafe-api", 1);
    fluid_settings_setnum(settings, "synth.gain", 0.5);
    fluid_settings_setint(settings, "synth.polyphony", 256);
    synth_.reset(new_fluid_synth(settings));
    soundFontId_ = synth_ ? fluid_synth_sfload(synth_.get(), soundFont_.c_str(), 1) : FLUID_FAILED;
    if (soundFontId_ == FLUID_FAILED) throw std::runtime_error("SoundFont cannot be loaded: " + soundFont_.string());
    // The keepers hold nothing yet: a general sound on each, so that they load no other samples.
    for (int keeper = 0; keeper < kKeepers; ++keeper) {
        fluid_synth_program_select(synth_.get(), kChannels + keeper, soundFontId_, 0, 0);
    }
    kept_ = {};
    sampleRate_ = sampleRate;
    restore(channels);
}

std::vector<Synthesizer::ChannelState> Synthesizer::channelStates() const {
    std::vector<ChannelState> states;
    if (!synth_) return states;
    for (int channel = 0; channel < kChannels; ++channel) {
        ChannelState state;
        int font = 0;
        fluid_synth_get_program(synth_.get(), channel, &font, &state.bank, &state.program);
        for (int control = 0; control < kRestoredControls; ++control) {
            fluid_synth_get_cc(synth_.get(), channel, control, &state.controls[static_cast<std::size_t>(control)]);
        }
        fluid_synth_get_pitch_bend(synth_.get(), channel, &state.pitchBend);
        states.push_back(state);
    }
    return states;
}

// Channel mode messages (120 and above) are actions, not state: left out.
void Synthesizer::restore(const std::vector<ChannelState>& states) {
    for (int channel = 0; channel < static_cast<int>(states.size()); ++channel) {
        const ChannelState& state = states[static_cast<std::size_t>(channel)];
        for (int control = 0; control < kRestoredControls; ++control) {
            fluid_synth_cc(synth_.get(), channel, control, state.controls[static_cast<std::size_t>(control)]);
        }
        fluid_synth_program_select(synth_.get(), channel, soundFontId_, state.bank, state.program);
        fluid_synth_pitch_bend(synth_.get(), channel, state.pitchBend);
    }
}

void Synthesizer::prepare(double sampleRate, std::uint32_t maxFrames) {
    const std::lock_guard lock(fluidMutex_);
    if (sampleRate != sampleRate_) load(sampleRate);
    scratch_.assign(static_cast<std::size_t>(maxFrames) * 2, 0.0F);
}

bool Synthesizer::send(std::uint8_t command, int channel, std::uint8_t data1, std::uint8_t data2,
                       std::uint64_t hostTime) {
    if (channel < 0 || channel >= kChannels || command < 0x80 || command > 0xE0 || (command & 0x0F)) return false;
    Event event;
    event.hostTime = hostTime;
    event.sequence = sequence_.fetch_add(1);
    event.command = command;
    event.channel = static_cast<std::uint8_t>(channel);
    event.data1 = static_cast<std::uint8_t>(data1 & 0x7F);
    event.data2 = static_cast<std::uint8_t>(data2 & 0x7F);
    if (command == 0xB0 && event.data1 == 0) bank_[static_cast<std::size_t>(channel)] = event.data2;
    if (command == 0xC0) keepPreset(channel, event.data1);
    return events_.push(event);
}

void Synthesizer::preload(int channel, std::uint8_t program) {
    if (channel >= 0 && channel < kChannels) keepPreset(channel, program & 0x7F);
}

void Synthesizer::discardTimed(int channel) {
    if (channel < 0 || channel >= kChannels) return;
    Event event;
    event.sequence = sequence_.fetch_add(1);
    event.command = kDiscard;
    event.channel = static_cast<std::uint8_t>(channel);
    events_.push(event);
}

// Audio thread: an event joins those pending; a discard removes the channel's earlier ones.
void Synthesizer::take(const Event& event) {
    if (event.command != kDiscard) {
        pending_[pendingCount_++] = event;
        return;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < pendingCount_; ++i) {
        const Event& waiting = pending_[i];
        if (waiting.channel != event.channel || waiting.sequence > event.sequence) pending_[kept++] = waiting;
    }
    pendingCount_ = kept;
}

void Synthesizer::keepPreset(int channel, int program) {
    const int bank = isDrumChannel(channel) ? kDrumBank : bank_[static_cast<std::size_t>(channel)].load();
    const std::lock_guard lock(fluidMutex_);
    ++asks_;
    Kept* slot = &kept_[0];
    for (Kept& kept : kept_) {
        if (kept.bank == bank && kept.program == program) {
            kept.asked = asks_;
            return;
        }
        if (kept.asked < slot->asked) slot = &kept;
    }
    const int keeper = static_cast<int>(slot - kept_.data());
    if (fluid_synth_program_select(synth_.get(), kChannels + keeper, soundFontId_, bank, program) != FLUID_OK) return;
    *slot = {bank, program, asks_};
}

void Synthesizer::render(const RenderContext& context) {
    const std::unique_lock fluid(fluidMutex_, std::try_to_lock);
    if (!fluid) {
        // A preset loads on another thread: what sounds goes on, the events wait for the next buffer.
        write(0, context.frames, context.output);
        return;
    }
    Event event;
    while (pendingCount_ < kMaxPending && events_.pop(event)) take(event);
    // Each event moves to the block edge nearest its time; those due in this buffer go to the
    // front, in time order, same times in sending order.
    std::size_t due = 0;
    for (std::size_t i = 0; i < pendingCount_; ++i) {
        Event& event = pending_[i];
        const std::int64_t frame = event.hostTime == kNow ? 0 : context.frameAt(event.hostTime);
        const std::int64_t absolute = static_cast<std::int64_t>(written_) + frame;
        const std::int64_t edge = (absolute + kBlockFrames / 2) / kBlockFrames * kBlockFrames;
        event.frame = std::max<std::int64_t>(0, edge - static_cast<std::int64_t>(written_));
        if (event.frame < context.frames) std::swap(pending_[i], pending_[due++]);
    }
    std::sort(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(due), [](const Event& a, const Event& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.sequence < b.sequence;
    });
    std::uint32_t cursor = 0;
    for (std::size_t i = 0; i < due; ++i) {
        const auto frame = static_cast<std::uint32_t>(pending_[i].frame);
        if (frame > cursor) write(cursor, frame, context.output);
        cursor = std::max(cursor, frame);
        apply(pending_[i]);
    }
    write(cursor, context.frames, context.output);
    std::move(pending_.begin() + static_cast<std::ptrdiff_t>(due), pending_.begin() + static_cast<std::ptrdiff_t>(pendingCount_),
              pending_.begin());
    pendingCount_ -= due;
}

void Synthesizer::write(std::uint32_t from, std::uint32_t to, float* output) {
    if (to <= from) return;
    const int count = static_cast<int>(to - from);
    fluid_synth_write_float(synth_.get(), count, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
    written_ += static_cast<std::uint64_t>(count);
    float* target = output + static_cast<std::size_t>(from) * 2;
    for (int i = 0; i < count * 2; ++i) target[i] += scratch_[static_cast<std::size_t>(i)];
}

void Synthesizer::apply(const Event& event) {
    const int channel = event.channel;
    fluid_synth_t* synth = synth_.get();
    switch (event.command) {
        case 0x80: fluid_synth_noteoff(synth, channel, event.data1); break;
        case 0x90: fluid_synth_noteon(synth, channel, event.data1, event.data2); break;
        case 0xA0: fluid_synth_key_pressure(synth, channel, event.data1, event.data2); break;
        case 0xB0: fluid_synth_cc(synth, channel, event.data1, event.data2); break;
        case 0xC0: fluid_synth_program_change(synth, channel, event.data1); break;
        case 0xD0: fluid_synth_channel_pressure(synth, channel, event.data1); break;
        case 0xE0: fluid_synth_pitch_bend(synth, channel, event.data1 | (event.data2 << 7)); break;
        default: break;
    }
}

}  // namespace kv

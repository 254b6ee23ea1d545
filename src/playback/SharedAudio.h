#pragma once

#include "platform/audio/AudioEngine.h"
#include "platform/audio/Synthesizer.h"

namespace kv {

// The service's one audio engine, opened at first use (silently on the host clock when no
// device opens: the fallback is logged once).
AudioEngine& sharedAudioEngine();
// The General MIDI synthesizer in it, loaded once from KVPLUGIN_SOUNDFONT or the system's
// default SoundFont; nothing when none loads (logged once).
Synthesizer* sharedSynthesizer();
// Looks after the engine's output, about once a second: a lost output is logged once and the
// engine runs on the null device until an output opens again.
void checkAudioOutput();

}  // namespace kv

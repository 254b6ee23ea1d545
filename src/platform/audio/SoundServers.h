#pragma once

#include <filesystem>
#include <string>

namespace kv {

// What can play on this desktop now, looked at without opening anything (a probe of the sound
// libraries prints its failures, and would on every look).
// A PulseAudio server, or PipeWire through its PulseAudio face (pipewire-pulse).
bool pulseServerRunning();
// PipeWire's own socket: its PulseAudio and JACK faces are separate programs and libraries.
bool pipeWireRunning();
// An ALSA playback device.
bool soundCardPresent();
// The JACK library this process loaded: JACK's own, or PipeWire's stand-in (pipewire-jack).
std::filesystem::path loadedJackLibrary();

}  // namespace kv

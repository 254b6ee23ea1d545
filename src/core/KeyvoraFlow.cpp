#include "core/KeyvoraFlow.h"

#include "core/DateText.h"

namespace kv {

namespace {
MidiDevice placeholderDevice() {
    MidiDevice device;
    device.modifiedDate = toString();
    return device;
}
}  // namespace

KeyvoraFlow::KeyvoraFlow() : currentMidiDevice(placeholderDevice()) {}

KeyvoraFlow& KeyvoraFlow::shared() {
    static KeyvoraFlow session;
    return session;
}

}  // namespace kv

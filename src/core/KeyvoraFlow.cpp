#include "core/KeyvoraFlow.h"

#include "base/DateText.h"

namespace kv {

namespace {
std::shared_ptr<MidiDevice> placeholderDevice() {
    auto device = std::make_shared<MidiDevice>();
    device->modifiedDate = toString();
    return device;
}
}  // namespace

KeyvoraFlow::KeyvoraFlow() : currentMidiDevice(placeholderDevice()) {}

}  // namespace kv

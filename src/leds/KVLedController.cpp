#include "leds/KVLedController.h"

#include "base/Console.h"
#include "base/TextFormat.h"
#include "leds/LedSysEx.h"
#include "platform/midi/MidiError.h"

#include <atomic>
#include <chrono>

namespace kv {

namespace {

constexpr const char* kClientName = "RtMidi Output Client";
constexpr auto kRefusalLineEvery = std::chrono::seconds(2);

std::unique_ptr<MidiOutput> makeMidiOut() {
    try {
        return std::make_unique<MidiOutput>(kClientName);
    } catch (const MidiError& error) {
        consoleLine(error.what());
        return nullptr;
    }
}

// One value for the whole process: a flood of refused sends prints one line per 2 s.
void refusalLine() {
    static std::atomic<std::chrono::steady_clock::rep> lastLine{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto last = lastLine.load();
    const auto every = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kRefusalLineEvery);
    if (last != 0 && now.count() - last < every.count()) return;
    if (!lastLine.compare_exchange_strong(last, now.count())) return;
    consoleLine("[LED] sendBytes: port chua mo -> bo qua");
}

}  // namespace

KVLedController::KVLedController() : midiOut_(makeMidiOut()) {
    resetStates();
}

KVLedController::~KVLedController() = default;

bool KVLedController::openPortWithRawName(const std::string& rawName, const AlikeKeyboard& alike) {
    if (rawName.empty()) {
        consoleLine("[LED] openPort: rawName rong -> bo qua");
        return false;
    }
    std::lock_guard lock(lock_);
    try {
        // An output left on a MIDI system that went away is dead: a new one talks to the new.
        if (midiOut_ && midiOut_->systemLost()) midiOut_.reset();
        if (!midiOut_) midiOut_ = std::make_unique<MidiOutput>(kClientName);
        if (midiOut_->isPortOpen()) midiOut_->closePort();
        const auto ports = midiOut_->ports();
        for (const auto& port : ports) {
            consoleLine(formatText("[LED] out port %u: %s", port.index, port.name.c_str()));
        }
        const auto match = matchLedPort(ports, rawName, alike);
        if (!match) {
            consoleLine(formatText("[LED] KHONG thay out port nao khop '%s' (co %u port) -> den se khong sang",
                                   rawName.c_str(), static_cast<unsigned>(ports.size())));
            return false;
        }
        midiOut_->openPort(match->rawName, "RtMidi Output");
        if (!midiOut_->isPortOpen()) return false;
        openedName_ = rawName;
        resetStates();
        consoleLine(formatText("[LED] Da mo out port %d (%s) cho '%s' — khop %s", static_cast<int>(match->index),
                               "OK", rawName.c_str(), match->description.c_str()));
        return true;
    } catch (const MidiError& error) {
        consoleLine(error.what());
        consoleLine("[LED] openPort LOI RtMidi");
        return false;
    }
}

void KVLedController::closePort() {
    std::lock_guard lock(lock_);
    try {
        if (midiOut_ && midiOut_->isPortOpen()) {
            midiOut_->closePort();
            consoleLine("[LED] Da dong out port (" + openedName_ + ")");
        }
    } catch (const MidiError& error) {
        consoleLine(error.what());
    }
    openedName_.clear();
    resetStates();
}

void KVLedController::dropOutput() {
    std::lock_guard lock(lock_);
    midiOut_.reset();
    openedName_.clear();
    resetStates();
}

bool KVLedController::isOpen() {
    std::lock_guard lock(lock_);
    return midiOut_ && !midiOut_->systemLost() && midiOut_->isPortOpen();
}

void KVLedController::setLed(int note, int color, int state) {
    if (note < kLowestKey || note > kHighestKey || color < 0 || color > 1) return;
    std::lock_guard lock(lock_);
    const std::uint8_t stateByte = ledStateByte(color, state);
    auto& known = ledState_[static_cast<std::size_t>(note)][static_cast<std::size_t>(color)];
    if (known == stateByte) return;
    const LedSysEx message = ledSysEx(note, stateByte);
    if (sendBytes(message.data(), message.size())) known = stateByte;
}

void KVLedController::allOff() {
    std::lock_guard lock(lock_);
    for (int note = kLowestKey; note <= kHighestKey; ++note) {
        setLed(note, 0, 0);
        setLed(note, 1, 0);
    }
}

void KVLedController::forceAllOff() {
    std::lock_guard lock(lock_);
    resetStates();
    allOff();
}

bool KVLedController::sendBytes(const unsigned char* bytes, std::size_t size) {
    if (size == 0) return false;
    std::lock_guard lock(lock_);
    if (!isOpen()) {
        refusalLine();
        return false;
    }
    try {
        midiOut_->send(bytes, size);
        return true;
    } catch (const MidiError& error) {
        consoleLine(error.what());
        return false;
    }
}

void KVLedController::resetStates() {
    for (auto& colors : ledState_) colors.fill(kUnset);
}

}  // namespace kv

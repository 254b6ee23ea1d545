#pragma once

#include "audio/MidiReceiver.h"
#include "base/SharedObject.h"
#include "core/KeyboardLights.h"
#include "core/MidiDevice.h"
#include "platform/midi/MidiInput.h"
#include "platform/midi/MidiPortInfo.h"
#include "store/Device.h"
#include "store/DeviceHelper.h"

#include <boost/asio/any_io_executor.hpp>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class KeyvoraFlow;

// The service's one owner of MIDI input: checks the ports when told (every second), keeps the
// session's device list and current device, holds the current keyboard's input (and its lights)
// open, and routes each played key by what the web application is showing. The service owns it.
// Everything but the input callback runs on the main queue; the callback, on the input's thread
// at real-time priority, only echoes the key and hands it over to the main queue.
class MidiManagerHandler {
public:
    static constexpr unsigned kInputQueueLimit = 100000;
    // The echo sounds on its own sixteen channels of the synthesizer, so it never cuts a song note.
    static constexpr int kEchoChannels = 16;
    using Devices = std::vector<std::shared_ptr<MidiDevice>>;

    static MidiManagerHandler& shared() { return Shared<MidiManagerHandler>::get(); }

    // Without an echo receiver the keys are not heard. The played keys are handed over to the
    // main queue; the keyboards seen are recorded in the database.
    MidiManagerHandler(KeyvoraFlow& session, MidiReceiver* echo, KeyboardLights& lights, Database& database,
                       boost::asio::any_io_executor mainQueue);
    ~MidiManagerHandler();
    MidiManagerHandler(const MidiManagerHandler&) = delete;
    MidiManagerHandler& operator=(const MidiManagerHandler&) = delete;

    // The input and the first device check, on the main queue.
    void createDeviceManager();
    // Ends the input's thread, which calls into the session and the synthesizer: before either
    // may go. The echo's notes are released.
    void stop();
    void checkDevices();
    // A keyboard's input is open: what it plays is echoed.
    bool keyboardOpen() const { return midiInput_ && midiInput_->isPortOpen(); }
    void devicesDidChange();
    void disconnectDevice();
    // Throws MidiError when the current device's port cannot be opened.
    void connectToDevice();
    void insertDeviceToDatabse(const MidiDevice& device);
    // Numbering against the devices listed so far in the rebuild.
    static std::string changeNameOfDuplicateDevice(const std::string& portName, const Devices& listed);
    static std::int32_t calculateDuplicateDevice(const std::string& portName, const Devices& listed);
    void getCurrentDevice();
    std::shared_ptr<MidiDevice> detectSelectedDeviceInDatabase();
    std::optional<Device> findDeviceInDatabase(const std::string& name);
    void moveCurrentDeviceOnTop();
    // The input callback: one complete message from the current keyboard, with the host time it
    // arrived at; a key's press time counts to that moment.
    void RecordingCallback(const unsigned char* bytes, std::size_t size, std::uint64_t arrival);
    // On the input's thread.
    void playEcho(int status, int key, int velocity);
    // The key handed over, on the main queue.
    void sendMiDiMessage(int key, int velocity, bool isNoteOn, std::uint64_t arrival);
    void sendNoteToClient(int key, bool isNoteOn, std::uint64_t arrival);
    void sendDeviceListToClient();
    nlohmann::json convertListDevicesToDictionary();

private:
    void makeMidiInput();
    void handOver(int key, int velocity, bool isNoteOn, std::uint64_t arrival);
    void logSysEx(const unsigned char* bytes, std::size_t size);
    void reportLostMessages();
    void releaseEcho();
    void recoverFromMidiFailure(const std::exception& error);
    void loseMidiSystem();
    AlikeKeyboard alikeKeyboard(const MidiDevice& device) const;

    KeyvoraFlow& session_;
    MidiReceiver* echo_;
    KeyboardLights& lights_;
    DeviceHelper devices_;
    boost::asio::any_io_executor mainQueue_;
    std::vector<MidiPortInfo> ports_;  // as at the last check: the device count is its size
    bool inputFailureLogged_ = false;
    std::uint64_t lostReported_ = 0;  // of the input's lost messages, those already logged
    // Last, so that it goes first: its thread calls into everything above until it is joined.
    std::unique_ptr<MidiInput> midiInput_;
};

}  // namespace kv

#pragma once

#include "base/SharedObject.h"
#include "leds/LedPortMatch.h"
#include "midi/model/MidiDevice.h"
#include "platform/dispatch/RepeatingTimer.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/midi/MidiInput.h"
#include "platform/midi/MidiPortInfo.h"
#include "store/Device.h"

#include <boost/asio/any_io_executor.hpp>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class PlayMidiMessage;

// The service's one owner of MIDI input: watches the ports every second, keeps the session's
// device list and current device, holds the current keyboard's input (and its lights) open,
// and routes each played key by what the web application is showing. The service owns it.
// Everything but the input callback runs on the main queue; the callback runs on the input's
// thread.
class MidiManagerHandler {
public:
    static constexpr unsigned kInputQueueLimit = 100000;
    using Devices = std::vector<std::shared_ptr<MidiDevice>>;

    static MidiManagerHandler& shared() { return Shared<MidiManagerHandler>::get(); }

    MidiManagerHandler() = default;
    ~MidiManagerHandler();
    MidiManagerHandler(const MidiManagerHandler&) = delete;
    MidiManagerHandler& operator=(const MidiManagerHandler&) = delete;

    // The input, the first device check and one a second, on the main queue.
    void createDeviceManager(boost::asio::any_io_executor mainQueue);
    // Ends the checks and the input's thread, which calls into the session, the synthesizer and
    // the connection: before any of them may go.
    void stop();
    void checkDevices();
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
    // These three run on the input's thread.
    void sendMiDiMessage(int key, int velocity, bool isNoteOn, std::uint64_t arrival);
    void sendNoteToClient(int key, bool isNoteOn, std::uint64_t arrival);
    void playEcho(int status, int key, int velocity);
    void sendDeviceListToClient();
    nlohmann::json convertListDevicesToDictionary();

private:
    void makeMidiInput();
    void recoverFromMidiFailure(const std::exception& error);
    void loseMidiSystem();
    AlikeKeyboard alikeKeyboard(const MidiDevice& device) const;

    std::shared_ptr<PlayMidiMessage> midiPlayer_;
    std::vector<MidiPortInfo> ports_;  // as at the last check: the device count is its size
    bool inputFailureLogged_ = false;
    std::unique_ptr<RepeatingTimer> checkTimer_;
    std::unique_ptr<SerialQueue> lightsQueue_;
    // Last, so that it goes first: its thread calls into everything above until it is joined.
    std::unique_ptr<MidiInput> midiInput_;
};

}  // namespace kv

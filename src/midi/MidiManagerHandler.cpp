#include "midi/MidiManagerHandler.h"

#include "base/Console.h"
#include "base/DateText.h"
#include "base/JsonText.h"
#include "base/Log.h"
#include "base/Numbers.h"
#include "base/TextFormat.h"
#include "base/Utf8.h"
#include "core/BaseResponseJSONObject.h"
#include "core/KeyvoraFlow.h"
#include "leds/KVLedController.h"
#include "midi/model/WhiteNoteConverter.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/midi/MidiError.h"
#include "platform/net/WebSocketConnection.h"
#include "playback/PlayMidiMessage.h"
#include "playback/SoundSystem.h"
#include "store/DeviceHelper.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kv {

namespace {

constexpr const char* kInputClient = "RtMidi Input Client";
constexpr const char* kInputPort = "RtMidi Input";
constexpr auto kCheckEvery = std::chrono::seconds(1);

// Whole milliseconds from baseTime (none counts as 1970) to the key's arrival, cut to 32 bits.
std::int32_t millisSinceBaseTime(std::uint64_t arrival) {
    const auto base = KeyvoraFlow::shared().baseTime.get();
    return static_cast<std::int32_t>((base ? *base : Instant::atWallClock(Date{})).millisUntil(arrival));
}

MidiEvent playedKey(int key, std::int32_t pressTime, int velocity, bool isNoteOn) {
    const WhiteNote note = WhiteNoteConverter::shared().getWhiteNote(key);
    return {note.pitch, note.octave, isNoteOn ? 1 : 0, pressTime, velocity, key};
}

std::vector<std::string> names(const std::vector<MidiPortInfo>& ports) {
    std::vector<std::string> result;
    for (const auto& port : ports) result.push_back(port.name);
    return result;
}

}  // namespace

MidiManagerHandler::~MidiManagerHandler() {
    stop();
}

void MidiManagerHandler::stop() {
    checkTimer_.reset();
    midiInput_.reset();  // joins the input thread
    lightsQueue_.reset();
}

void MidiManagerHandler::createDeviceManager(boost::asio::any_io_executor mainQueue) {
    // Made before the input, whose callback sounds it from the first key on.
    if (!midiPlayer_) midiPlayer_ = PlayMidiMessage::initWithInstrument(0, PlayMidiMessage::kEchoChannels);
    lightsQueue_ = std::make_unique<SerialQueue>("KVLedAllOff");
    makeMidiInput();
    checkDevices();
    checkTimer_ = std::make_unique<RepeatingTimer>(mainQueue, kCheckEvery, [this] { checkDevices(); });
    checkTimer_->start();
}

void MidiManagerHandler::makeMidiInput() {
    midiInput_.reset();
    try {
        midiInput_ = std::make_unique<MidiInput>(kInputClient, kInputPort, kInputQueueLimit,
                                                 [this](const unsigned char* bytes, std::size_t size, std::uint64_t arrival) {
                                                     RecordingCallback(bytes, size, arrival);
                                                 });
        inputFailureLogged_ = false;
    } catch (const MidiError& error) {
        // Retried at every check; said once, not every second.
        if (!inputFailureLogged_) logText(kLogError, std::string("MIDI input cannot be opened: ") + error.what());
        inputFailureLogged_ = true;
    }
}

// A keyboard swapped for another between two checks keeps the count but not the names: the
// names are compared, so the new keyboard is connected.
void MidiManagerHandler::checkDevices() {
    KV_ASSERT_MAIN_QUEUE();
    SoundSystem::shared().checkOutput();
    if (midiInput_ && midiInput_->systemLost()) loseMidiSystem();
    if (!midiInput_) makeMidiInput();
    if (!midiInput_) return;
    try {
        auto ports = midiInput_->ports();
        if (names(ports) == names(ports_)) return;
        ports_ = std::move(ports);
        devicesDidChange();
    } catch (const MidiError& error) {
        recoverFromMidiFailure(error);
    }
}

// The new input has no port open: forgetting the ports makes the next check rebuild the list
// and reconnect the keyboard, which would otherwise stay silent until a port came or went.
void MidiManagerHandler::recoverFromMidiFailure(const std::exception& error) {
    consoleLine(error.what());
    makeMidiInput();
    ports_.clear();
}

// The system's ports are gone with it: the list empties, and the next check that can make an
// input again lists and connects what the returning system has.
void MidiManagerHandler::loseMidiSystem() {
    logText(kLogError, "MIDI system lost: no keyboards until it is back");
    inputFailureLogged_ = true;  // the failed attempts meanwhile are this same loss
    // Both go at once: libjack cannot close a dead server's clients once a new server runs.
    midiInput_.reset();
    KVLedController::shared().dropOutput();
    ports_.clear();
    devicesDidChange();
}

void MidiManagerHandler::devicesDidChange() {
    logText(kLogInfo, "devices did change");
    disconnectDevice();
    auto& session = KeyvoraFlow::shared();
    session.listDevices.set({});
    if (ports_.empty()) {
        sendDeviceListToClient();
        return;
    }
    Devices listed;
    for (const auto& port : ports_) {
        auto device = std::make_shared<MidiDevice>();
        device->rawName = port.rawName;
        // A name that is not valid UTF-8 would make every JSON text that carries it fail.
        device->name = changeNameOfDuplicateDevice(validUtf8(port.name), listed);
        device->index = static_cast<std::int32_t>(port.index);
        device->deviceId = device->name;
        device->modifiedDate = toString();
        listed.push_back(device);
        insertDeviceToDatabse(*device);
    }
    session.listDevices.set(std::move(listed));
    getCurrentDevice();
    moveCurrentDeviceOnTop();
    connectToDevice();
    sendDeviceListToClient();
}

void MidiManagerHandler::disconnectDevice() {
    KVLedController::shared().closePort();
    if (midiInput_ && midiInput_->isPortOpen()) midiInput_->closePort();
}

void MidiManagerHandler::connectToDevice() {
    if (!midiInput_) throw MidiError("no MIDI input");
    auto& session = KeyvoraFlow::shared();
    const auto current = session.currentMidiDevice.get();
    for (const auto& device : session.listDevices.get()) {
        if (device->name != current->name) continue;
        if (midiInput_->isPortOpen()) midiInput_->closePort();
        midiInput_->openPort(current->rawName);
        logText(kLogInfo, formatText("Did open port at index: %d", current->index));
        if (KVLedController::shared().openPortWithRawName(current->rawName, alikeKeyboard(*current))) {
            lightsQueue_->async([] { KVLedController::shared().forceAllOff(); });
        }
    }
}

// Alike keyboards list under one stable name; their LED outputs are told apart by rank.
AlikeKeyboard MidiManagerHandler::alikeKeyboard(const MidiDevice& device) const {
    AlikeKeyboard alike;
    const auto self = std::find_if(ports_.begin(), ports_.end(),
                                   [&](const MidiPortInfo& port) { return port.rawName == device.rawName; });
    if (self == ports_.end()) return alike;
    alike.name = self->name;
    alike.count = 0;
    for (auto port = ports_.begin(); port != ports_.end(); ++port) {
        if (port->name != alike.name) continue;
        if (port < self) ++alike.rank;
        ++alike.count;
    }
    return alike;
}

void MidiManagerHandler::insertDeviceToDatabse(const MidiDevice& device) {
    for (const auto& record : DeviceHelper::getAllDevices()) {
        if (record.deviceName == device.name) return;
    }
    Device record;
    record.deviceId = device.deviceId;
    record.deviceName = device.name;
    record.isLatest = false;
    record.createdDate = toString();
    if (DeviceHelper::insertDevice(record)) consoleLine("DeviceHelper insert device " + device.deviceId + " success");
}

std::int32_t MidiManagerHandler::calculateDuplicateDevice(const std::string& portName, const Devices& listed) {
    const auto containing = std::count_if(listed.begin(), listed.end(), [&](const auto& device) {
        return device->name.find(portName) != std::string::npos;
    });
    return 1 + static_cast<std::int32_t>(containing);
}

std::string MidiManagerHandler::changeNameOfDuplicateDevice(const std::string& portName, const Devices& listed) {
    const std::int32_t count = calculateDuplicateDevice(portName, listed);
    return count >= 2 ? portName + " " + std::to_string(count) : portName;
}

void MidiManagerHandler::getCurrentDevice() {
    auto& session = KeyvoraFlow::shared();
    if (auto selected = detectSelectedDeviceInDatabase()) {
        session.currentMidiDevice.set(std::move(selected));
        return;
    }
    const auto listed = session.listDevices.get();
    const std::shared_ptr<MidiDevice> last = listed.empty() ? nullptr : listed.back();
    auto record = last ? findDeviceInDatabase(last->name) : std::nullopt;
    DeviceHelper::resetIsLatest();
    if (!last || !record) return;
    record->isLatest = true;
    DeviceHelper::updateDevice(*record);
    last->lowestNote = record->lowestNote;
    last->highestNote = record->highestNote;
    session.currentMidiDevice.set(last);
}

std::shared_ptr<MidiDevice> MidiManagerHandler::detectSelectedDeviceInDatabase() {
    const auto records = DeviceHelper::getAllDevices();
    const auto marked = std::find_if(records.begin(), records.end(), [](const Device& d) { return d.isLatest; });
    if (marked == records.end()) return nullptr;
    for (const auto& device : KeyvoraFlow::shared().listDevices.get()) {
        if (device->name != marked->deviceName) continue;
        device->lowestNote = marked->lowestNote;
        device->highestNote = marked->highestNote;
        return device;
    }
    return nullptr;
}

std::optional<Device> MidiManagerHandler::findDeviceInDatabase(const std::string& name) {
    return DeviceHelper::getDeviceByName(name);
}

void MidiManagerHandler::moveCurrentDeviceOnTop() {
    auto& session = KeyvoraFlow::shared();
    auto listed = session.listDevices.get();
    const std::string current = session.currentMidiDevice.get()->name;
    const auto found = std::find_if(listed.begin(), listed.end(), [&](const auto& d) { return d->name == current; });
    if (found == listed.end()) return;
    std::rotate(listed.begin(), found, found + 1);
    session.listDevices.set(std::move(listed));
}

void MidiManagerHandler::sendMiDiMessage(int key, int velocity, bool isNoteOn, std::uint64_t arrival) {
    auto& session = KeyvoraFlow::shared();
    switch (session.APP_STATE.load()) {
        case KeyvoraFlow::kDeviceSettingSingleConnection:
            if (isNoteOn) sendNoteToClient(key, true, arrival);
            return;
        case KeyvoraFlow::kWaitMode:
            if (session.webVersion.read([](const std::string& v) { return v == "oldgen/web"; })) {
                session.listMidiEvents.replaceWith(playedKey(key, millisSinceBaseTime(arrival), velocity, isNoteOn));
            } else {
                sendNoteToClient(key, isNoteOn, arrival);
            }
            return;
        case KeyvoraFlow::kDeviceSetting:
            if (isNoteOn) session.listMidiEvents.replaceWith(playedKey(key, 0, velocity, false));
            return;
        case KeyvoraFlow::kSongPlaying: {
            if (!isNoteOn || !session.baseTime.get()) return;
            std::int32_t pressTime = millisSinceBaseTime(arrival);
            if (pressTime < 0 && session.timeGetNoteEarly.load() >= static_cast<float>(pressTime)) pressTime = 0;
            session.listMidiEvents.append(playedKey(key, pressTime, velocity, false));
            return;
        }
        default:
            return;
    }
}

void MidiManagerHandler::sendNoteToClient(int key, bool isNoteOn, std::uint64_t arrival) {
    const auto connection = KeyvoraFlow::shared().currentConnection.get().lock();
    if (!connection) return;
    MidiEvent event = playedKey(key, millisSinceBaseTime(arrival), 0, isNoteOn);
    event.noteNumber = 0;
    std::string text = toJSONText(event.toJson());
    if (text.empty()) {
        consoleLine("Can not send note to client");
        return;
    }
    connection->send(std::move(text));
    consoleLine("Send note to client success");
}

void MidiManagerHandler::playEcho(int status, int key, int velocity) {
    if (KeyvoraFlow::shared().valueVolume.load() <= 0 || !midiPlayer_) return;
    const int channel = status & 0x0F;
    if (velocity > 0) {
        // A stored volume above 100 scales past MIDI's range; the loudest key is 127.
        midiPlayer_->playNoteOn(key, std::min(velocity, 127), channel);
    } else {
        midiPlayer_->playNoteOff(key, channel);
    }
}

void MidiManagerHandler::sendDeviceListToClient() {
    const auto connection = KeyvoraFlow::shared().currentConnection.get().lock();
    if (!connection) return;
    const BaseRequestJSONObject request = parseRequest(R"({"methodName":3})");
    std::string text = composeResponseMessage(convertListDevicesToDictionary(), 0, "SUCCESS", request).toJSONString();
    if (text.empty()) {
        consoleLine("Can not parse data to JSON String");
        return;
    }
    connection->send(std::move(text));
    consoleLine("Response Message Success");
}

nlohmann::json MidiManagerHandler::convertListDevicesToDictionary() {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& device : KeyvoraFlow::shared().listDevices.get()) {
        list.push_back({{"id", device->deviceId},
                        {"deviceName", device->name},
                        {"modifiedDate", device->modifiedDate},
                        {"index", device->index},
                        {"highestNote", device->highestNote},
                        {"lowestNote", device->lowestNote}});
    }
    return list;
}

void MidiManagerHandler::RecordingCallback(const unsigned char* bytes, std::size_t size, std::uint64_t arrival) {
    if (size == 0) return;
    auto& session = KeyvoraFlow::shared();
    const unsigned char status = bytes[0];
    if (status >= 0x90 && status <= 0x9F) {
        if (size < 3) return;
        const int key = bytes[1];
        const int velocity = bytes[2];
        if (velocity == 0) {
            playEcho(status, key, 0);
            sendMiDiMessage(key, 0, false, arrival);
            return;
        }
        const std::int32_t volume = session.currentUser.read(
            [](const std::optional<User>& user) { return user ? user->speakerPcVelocity : 0; });
        session.valueVolume = static_cast<float>(volume);
        // A stored volume is not clamped: the products saturate rather than overflow.
        const std::int32_t top = saturatedInt32(std::trunc(session.valueVolume.load() * 127.0F / 100.0F));
        const std::int32_t scaled = saturatedInt32(std::trunc(velocity / 127.0 * top));
        playEcho(status, key, scaled);
        sendMiDiMessage(key, scaled, true, arrival);
    } else if (status >= 0x80 && status <= 0x8F) {
        if (size < 2) return;
        playEcho(status, bytes[1], 0);
        sendMiDiMessage(bytes[1], 0, false, arrival);
    } else if (status == 0xF0) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string hex;
        hex.reserve(size * 3);
        for (std::size_t i = 0; i < size; ++i) {
            hex += kDigits[bytes[i] >> 4];
            hex += kDigits[bytes[i] & 0x0F];
            hex += ' ';
        }
        logText(kLogInfo, formatText("[LED] SysEx nhan duoc (%zu byte): ", size) + hex);
    }
}

}  // namespace kv

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
#include "core/WhiteNoteConverter.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/midi/MidiError.h"
#include "platform/midi/MidiPortList.h"
#include "platform/net/WebSocketConnection.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr const char* kInputClient = "RtMidi Input Client";
constexpr const char* kInputPort = "RtMidi Input";

// Whole milliseconds from baseTime (none counts as 1970) to the key's arrival, cut to 32 bits.
std::int32_t millisSinceBaseTime(const KeyvoraFlow& session, std::uint64_t arrival) {
    const auto base = session.baseTime.get();
    return static_cast<std::int32_t>((base ? *base : Instant::atWallClock(Date{})).millisUntil(arrival));
}

MidiEvent playedKey(int key, std::int32_t pressTime, int velocity, bool isNoteOn) {
    const WhiteNote note = WhiteNoteConverter::getWhiteNote(key);
    return {note.pitch, note.octave, isNoteOn ? 1 : 0, pressTime, velocity, key};
}

std::vector<std::string> names(const std::vector<MidiPortInfo>& ports) {
    std::vector<std::string> result;
    for (const auto& port : ports) result.push_back(port.name);
    return result;
}

}  // namespace

MidiManagerHandler::MidiManagerHandler(KeyvoraFlow& session, MidiReceiver* echo, KeyboardLights& lights,
                                       Database& database, boost::asio::any_io_executor mainQueue)
    : session_(session), echo_(echo), lights_(lights), devices_(database), mainQueue_(std::move(mainQueue)) {}

MidiManagerHandler::~MidiManagerHandler() {
    stop();
}

void MidiManagerHandler::stop() {
    midiInput_.reset();  // joins the input thread
    releaseEcho();
}

// No key may hang in the shared synthesizer once nothing can release it.
void MidiManagerHandler::releaseEcho() {
    if (!echo_) return;
    for (int channel = kEchoChannels; channel < kEchoChannels + 16; ++channel) {
        echo_->send(0xB0, channel, 64, 0);
        echo_->send(0xB0, channel, 123, 0);
        echo_->send(0xB0, channel, 120, 0);
    }
}

void MidiManagerHandler::createDeviceManager() {
    makeMidiInput();
    checkDevices();
}

void MidiManagerHandler::makeMidiInput() {
    midiInput_.reset();
    try {
        // Without a MIDI system this runs every second: found out before anything is made.
        if (!midiSystemPresent()) throw MidiError("no ALSA sequencer and no JACK server");
        midiInput_ = std::make_unique<MidiInput>(kInputClient, kInputPort, kInputQueueLimit,
                                                 [this](const unsigned char* bytes, std::size_t size, std::uint64_t arrival) {
                                                     RecordingCallback(bytes, size, arrival);
                                                 });
        inputFailureLogged_ = false;
        lostReported_ = 0;
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
    if (midiInput_ && midiInput_->systemLost()) loseMidiSystem();
    if (!midiInput_) makeMidiInput();
    if (!midiInput_) return;
    reportLostMessages();
    try {
        auto ports = midiInput_->ports();
        if (names(ports) == names(ports_)) return;
        ports_ = std::move(ports);
        devicesDidChange();
    } catch (const MidiError& error) {
        recoverFromMidiFailure(error);
    }
}

// A key lost on its way in (a MIDI system that ran late) shows in the log.
void MidiManagerHandler::reportLostMessages() {
    const std::uint64_t lost = midiInput_->lostMessages();
    if (lost <= lostReported_) return;
    logText(kLogError, formatText("MIDI input lost %llu messages", static_cast<unsigned long long>(lost - lostReported_)));
    lostReported_ = lost;
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
    lights_.loseMidiSystem();
    ports_.clear();
    devicesDidChange();
}

void MidiManagerHandler::devicesDidChange() {
    logText(kLogInfo, "devices did change");
    disconnectDevice();
    KeyvoraFlow& session = session_;
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
    lights_.disconnectKeyboard();
    if (midiInput_ && midiInput_->isPortOpen()) midiInput_->closePort();
}

void MidiManagerHandler::connectToDevice() {
    if (!midiInput_) throw MidiError("no MIDI input");
    KeyvoraFlow& session = session_;
    const auto current = session.currentMidiDevice.get();
    for (const auto& device : session.listDevices.get()) {
        if (device->name != current->name) continue;
        if (midiInput_->isPortOpen()) midiInput_->closePort();
        midiInput_->openPort(current->rawName);
        logText(kLogInfo, formatText("Did open port at index: %d", current->index));
        lights_.connectKeyboard(current->rawName, alikeKeyboard(*current));
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
    for (const auto& record : devices_.getAllDevices()) {
        if (record.deviceName == device.name) return;
    }
    Device record;
    record.deviceId = device.deviceId;
    record.deviceName = device.name;
    record.isLatest = false;
    record.createdDate = toString();
    if (devices_.insertDevice(record)) consoleLine("DeviceHelper insert device " + device.deviceId + " success");
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
    KeyvoraFlow& session = session_;
    if (auto selected = detectSelectedDeviceInDatabase()) {
        session.currentMidiDevice.set(std::move(selected));
        return;
    }
    const auto listed = session.listDevices.get();
    const std::shared_ptr<MidiDevice> last = listed.empty() ? nullptr : listed.back();
    auto record = last ? findDeviceInDatabase(last->name) : std::nullopt;
    devices_.resetIsLatest();
    if (!last || !record) return;
    record->isLatest = true;
    devices_.updateDevice(*record);
    last->lowestNote = record->lowestNote;
    last->highestNote = record->highestNote;
    session.currentMidiDevice.set(last);
}

std::shared_ptr<MidiDevice> MidiManagerHandler::detectSelectedDeviceInDatabase() {
    const auto records = devices_.getAllDevices();
    const auto marked = std::find_if(records.begin(), records.end(), [](const Device& d) { return d.isLatest; });
    if (marked == records.end()) return nullptr;
    for (const auto& device : session_.listDevices.get()) {
        if (device->name != marked->deviceName) continue;
        device->lowestNote = marked->lowestNote;
        device->highestNote = marked->highestNote;
        return device;
    }
    return nullptr;
}

std::optional<Device> MidiManagerHandler::findDeviceInDatabase(const std::string& name) {
    return devices_.getDeviceByName(name);
}

void MidiManagerHandler::moveCurrentDeviceOnTop() {
    KeyvoraFlow& session = session_;
    auto listed = session.listDevices.get();
    const std::string current = session.currentMidiDevice.get()->name;
    const auto found = std::find_if(listed.begin(), listed.end(), [&](const auto& d) { return d->name == current; });
    if (found == listed.end()) return;
    std::rotate(listed.begin(), found, found + 1);
    session.listDevices.set(std::move(listed));
}

void MidiManagerHandler::sendMiDiMessage(int key, int velocity, bool isNoteOn, std::uint64_t arrival) {
    KeyvoraFlow& session = session_;
    switch (session.APP_STATE.load()) {
        case KeyvoraFlow::kDeviceSettingSingleConnection:
            if (isNoteOn) sendNoteToClient(key, true, arrival);
            return;
        case KeyvoraFlow::kWaitMode:
            if (session.webVersion.read([](const std::string& v) { return v == "oldgen/web"; })) {
                session.listMidiEvents.replaceWith(playedKey(key, millisSinceBaseTime(session_, arrival), velocity, isNoteOn));
            } else {
                sendNoteToClient(key, isNoteOn, arrival);
            }
            return;
        case KeyvoraFlow::kDeviceSetting:
            if (isNoteOn) session.listMidiEvents.replaceWith(playedKey(key, 0, velocity, false));
            return;
        case KeyvoraFlow::kSongPlaying: {
            if (!isNoteOn || !session.baseTime.get()) return;
            std::int32_t pressTime = millisSinceBaseTime(session_, arrival);
            if (pressTime < 0 && session.timeGetNoteEarly.load() >= static_cast<float>(pressTime)) pressTime = 0;
            session.listMidiEvents.append(playedKey(key, pressTime, velocity, false));
            return;
        }
        default:
            return;
    }
}

void MidiManagerHandler::sendNoteToClient(int key, bool isNoteOn, std::uint64_t arrival) {
    const auto connection = session_.currentConnection.get().lock();
    if (!connection) return;
    MidiEvent event = playedKey(key, millisSinceBaseTime(session_, arrival), 0, isNoteOn);
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
    if (session_.valueVolume.load() <= 0 || !echo_) return;
    const int channel = kEchoChannels + (status & 0x0F);
    const auto note = static_cast<std::uint8_t>(key & 0x7F);
    if (velocity > 0) {
        // A stored volume above 100 scales past MIDI's range; the loudest key is 127.
        echo_->send(0x90, channel, note, static_cast<std::uint8_t>(std::min(velocity, 127)));
    } else {
        echo_->send(0x80, channel, note, 0);
    }
}

void MidiManagerHandler::sendDeviceListToClient() {
    const auto connection = session_.currentConnection.get().lock();
    if (!connection) return;
    const BaseRequestJSONObject request = parseRequest(R"({"methodName":3})");
    std::string text =
        composeResponseMessage(convertListDevicesToDictionary(), 0, "SUCCESS", request, session_).toJSONString();
    if (text.empty()) {
        consoleLine("Can not parse data to JSON String");
        return;
    }
    connection->send(std::move(text));
    consoleLine("Response Message Success");
}

nlohmann::json MidiManagerHandler::convertListDevicesToDictionary() {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& device : session_.listDevices.get()) {
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
    KeyvoraFlow& session = session_;
    const unsigned char status = bytes[0];
    if (status >= 0x90 && status <= 0x9F) {
        if (size < 3) return;
        const int key = bytes[1];
        const int velocity = bytes[2];
        if (velocity == 0) {
            playEcho(status, key, 0);
            handOver(key, 0, false, arrival);
            return;
        }
        const std::int32_t volume = session.currentUser.read(
            [](const std::optional<User>& user) { return user ? user->speakerPcVelocity : 0; });
        session.valueVolume = static_cast<float>(volume);
        // A stored volume is not clamped: the products saturate rather than overflow.
        const std::int32_t top = saturatedInt32(std::trunc(session.valueVolume.load() * 127.0F / 100.0F));
        const std::int32_t scaled = saturatedInt32(std::trunc(velocity / 127.0 * top));
        playEcho(status, key, scaled);
        handOver(key, scaled, true, arrival);
    } else if (status >= 0x80 && status <= 0x8F) {
        if (size < 2) return;
        playEcho(status, bytes[1], 0);
        handOver(bytes[1], 0, false, arrival);
    } else if (status == 0xF0) {
        logSysEx(bytes, size);
    }
}

// The key's recording and push wait for nothing the input's thread must not.
void MidiManagerHandler::handOver(int key, int velocity, bool isNoteOn, std::uint64_t arrival) {
    boost::asio::post(mainQueue_, [this, key, velocity, isNoteOn, arrival] {
        sendMiDiMessage(key, velocity, isNoteOn, arrival);
    });
}

void MidiManagerHandler::logSysEx(const unsigned char* bytes, std::size_t size) {
    boost::asio::post(mainQueue_, [message = std::vector<unsigned char>(bytes, bytes + size)] {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string hex;
        hex.reserve(message.size() * 3);
        for (const unsigned char byte : message) {
            hex += kDigits[byte >> 4];
            hex += kDigits[byte & 0x0F];
            hex += ' ';
        }
        logText(kLogInfo, formatText("[LED] SysEx nhan duoc (%zu byte): ", message.size()) + hex);
    });
}

}  // namespace kv

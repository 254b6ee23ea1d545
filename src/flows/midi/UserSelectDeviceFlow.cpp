#include "flows/midi/UserSelectDeviceFlow.h"

#include "base/JsonReading.h"
#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "midi/MidiManagerHandler.h"
#include "platform/midi/MidiError.h"
#include "store/DeviceHelper.h"

#include <algorithm>

namespace kv {

namespace {

constexpr const char* kFailure = "MIDI DEVICE CAN NOT SAVED";

// Makes the listed device current and marks its record last used; false when it is not listed
// or the mark cannot be saved.
bool selectDevice(const std::string& deviceName) {
    auto& session = KeyvoraFlow::shared();
    const auto listed = session.listDevices.get();
    const auto found = std::find_if(listed.begin(), listed.end(),
                                    [&](const auto& d) { return d->name == deviceName; });
    if (found == listed.end()) return false;
    const std::shared_ptr<MidiDevice> current = *found;
    session.currentMidiDevice.set(current);
    for (auto& record : DeviceHelper(Database::shared()).getAllDevices()) {
        if (record.deviceName != deviceName) continue;
        current->highestNote = record.highestNote;
        current->lowestNote = record.lowestNote;
        if (!DeviceHelper(Database::shared()).resetIsLatest()) return false;  // else two records could be marked
        record.isLatest = true;
        return DeviceHelper(Database::shared()).updateDevice(record);
    }
    return true;
}

nlohmann::json failure() {
    logText(kLogError, kFailure);
    return {{"code", -1}, {"message", kFailure}};
}

}  // namespace

nlohmann::json UserSelectDeviceFlow::processData(const nlohmann::json& requestData, const std::string&,
                                                 const BaseRequestJSONObject&) {
    try {
        const std::string deviceName = json_reading::readString(requestData, "deviceName").value_or("");
        auto& manager = MidiManagerHandler::shared();
        manager.disconnectDevice();
        if (!selectDevice(deviceName)) return failure();
        try {
            manager.connectToDevice();
        } catch (const MidiError& error) {
            logText(kLogError, error.what());
            manager.disconnectDevice();
            return failure();
        }
        return {{"code", 0}, {"message", "SUCCESS"}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("UserSelectDeviceFlow: ") + error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv

#include "store/DeviceHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<Device> DeviceHelper::getDeviceByName(const std::string& name) const {
    return RecordTable<Device>::first(database_, Condition().text("deviceName", name));
}

std::vector<Device> DeviceHelper::getAllDevices() const {
    return RecordTable<Device>::fetch(database_).value_or(std::vector<Device>{});
}

bool DeviceHelper::insertDevice(Device& device) const {
    const bool saved = RecordTable<Device>::commit(database_, device);
    logText(saved ? kLogDebug : kLogError, saved ? "insert device success" : "insert device fail");
    return saved;
}

bool DeviceHelper::updateDevice(Device& device) const {
    const bool saved = RecordTable<Device>::commit(database_, device);
    logText(saved ? kLogDebug : kLogError, saved ? "update device success" : "update device fail");
    return saved;
}

// One statement: every record or none, and one write to the disk.
bool DeviceHelper::resetIsLatest() const {
    const bool reset = database_
                           .run([](SQLite::Database& connection) {
                               connection.exec(std::string("UPDATE \"") + Device::kTable + "\" SET isLatest = 0");
                               return true;
                           })
                           .value_or(false);
    if (!reset) logText(kLogError, "reset latest device fail");
    return reset;
}

}  // namespace kv

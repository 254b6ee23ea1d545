#pragma once

#include "store/Database.h"
#include "store/Device.h"

#include <optional>
#include <string>
#include <vector>

namespace kv {

class DeviceHelper {
public:
    explicit DeviceHelper(Database& database) : database_(database) {}

    std::optional<Device> getDeviceByName(const std::string& name) const;
    std::vector<Device> getAllDevices() const;
    bool insertDevice(Device& device) const;
    bool updateDevice(Device& device) const;
    // Clears the last-used mark on every record; always true.
    bool resetIsLatest() const;

private:
    Database& database_;
};

}  // namespace kv

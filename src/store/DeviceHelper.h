#pragma once

#include "store/Device.h"

#include <optional>
#include <string>
#include <vector>

namespace kv {

class DeviceHelper {
public:
    static std::optional<Device> getDeviceByName(const std::string& name);
    static std::vector<Device> getAllDevices();
    static bool insertDevice(Device& device);
    static bool updateDevice(Device& device);
    // Clears the last-used mark on every record; always true.
    static bool resetIsLatest();
};

}  // namespace kv

#pragma once

#include "store/RecordColumn.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace kv {

// A MIDI keyboard ever seen, by display name, with its key range and the last-used mark.
struct Device {
    std::int64_t Id = 0;
    std::string deviceId;
    std::string deviceName;
    std::string lastPlayingTime;
    std::string createdDate;
    std::string modifiedDate;
    std::int32_t lowestNote = 0;
    std::int32_t highestNote = 0;
    bool isLatest = false;

    static constexpr const char* kTable = "Device";
    static constexpr bool kIdFromCaller = false;
    static constexpr auto columns() {
        return std::make_tuple(column("deviceId", &Device::deviceId),
                               column("deviceName", &Device::deviceName),
                               column("lastPlayingTime", &Device::lastPlayingTime),
                               column("createdDate", &Device::createdDate),
                               column("modifiedDate", &Device::modifiedDate),
                               column("lowestNote", &Device::lowestNote),
                               column("highestNote", &Device::highestNote),
                               column("isLatest", &Device::isLatest));
    }
};

}  // namespace kv

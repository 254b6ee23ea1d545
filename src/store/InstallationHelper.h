#pragma once

#include "store/Installation.h"

#include <optional>

namespace kv {

class InstallationHelper {
public:
    // The first installation record: the identifier for the life of the database.
    static std::optional<Installation> getInstallationID();
    static bool insertNewInstallationID(Installation& installation);
};

}  // namespace kv

#pragma once

#include "store/Database.h"
#include "store/Installation.h"

#include <optional>

namespace kv {

class InstallationHelper {
public:
    explicit InstallationHelper(Database& database) : database_(database) {}

    // The first installation record: the identifier for the life of the database.
    std::optional<Installation> getInstallationID() const;
    bool insertNewInstallationID(Installation& installation) const;

private:
    Database& database_;
};

}  // namespace kv

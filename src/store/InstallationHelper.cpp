#include "store/InstallationHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<Installation> InstallationHelper::getInstallationID() {
    return RecordTable<Installation>::first(Database::shared());
}

bool InstallationHelper::insertNewInstallationID(Installation& installation) {
    const bool saved = RecordTable<Installation>::commit(Database::shared(), installation);
    logText(saved ? kLogDebug : kLogError, saved ? "insert installion success" : "insert installion fail");
    return saved;
}

}  // namespace kv

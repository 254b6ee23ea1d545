#include "store/InstallationHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<Installation> InstallationHelper::getInstallationID() const {
    return RecordTable<Installation>::first(database_);
}

bool InstallationHelper::insertNewInstallationID(Installation& installation) const {
    const bool saved = RecordTable<Installation>::commit(database_, installation);
    logText(saved ? kLogDebug : kLogError, saved ? "insert installion success" : "insert installion fail");
    return saved;
}

}  // namespace kv

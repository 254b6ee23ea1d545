#include "flows/session/GetPluginInformationFlow.h"

#include "base/Console.h"
#include "base/DateText.h"
#include "core/Version.h"
#include "platform/crypto/RandomUuid.h"
#include "store/InstallationHelper.h"

namespace kv {

nlohmann::json GetPluginInformationFlow::processData(const nlohmann::json&, const std::string&,
                                                     const BaseRequestJSONObject&) {
    if (const auto installation = InstallationHelper(Database::shared()).getInstallationID()) {
        return {{"installationId", installation->installationId},
                {"message", "SUCCESS"},
                {"code", 0},
                {"version", getVersion()}};
    }
    Installation installation;
    installation.installationId = makeRandomUuid();
    installation.createdDate = currentDate();
    installation.modifiedDate = installation.createdDate;
    if (!InstallationHelper(Database::shared()).insertNewInstallationID(installation)) {
        consoleLine("Can not create or get installation ID");
        return {{"installationId", installation.installationId},
                {"message", "Can not create or get installation ID"},
                {"code", -1},
                {"version", getVersion()}};
    }
    return {{"installationId", installation.installationId},
            {"message", "SUCCESS"},
            {"code", 0},
            {"version", getVersion()}};
}

}  // namespace kv

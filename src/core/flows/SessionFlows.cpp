#include "core/flows/SessionFlows.h"

#include "core/flows/GetEncryptionKeyFlow.h"
#include "core/flows/GetPluginInformationFlow.h"
#include "core/flows/KeepAliveFlow.h"
#include "core/flows/PingFlow.h"
#include "core/flows/SaveEncryptionKeyFlow.h"
#include "core/flows/SaveTokenFlow.h"
#include "core/flows/StartUserSessionFlow.h"

namespace kv {

void addSessionFlows(FlowTable& table) {
    table.add<PingFlow>(1);
    table.add<StartUserSessionFlow>(2);
    table.add<GetPluginInformationFlow>(17);
    table.add<SaveEncryptionKeyFlow>(21);
    table.add<GetEncryptionKeyFlow>(22);
    table.add<KeepAliveFlow>(31);
    table.add<SaveTokenFlow>(45);
}

}  // namespace kv

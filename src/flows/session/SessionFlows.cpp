#include "flows/session/SessionFlows.h"

#include "flows/session/GetEncryptionKeyFlow.h"
#include "flows/session/GetPluginInformationFlow.h"
#include "flows/session/KeepAliveFlow.h"
#include "flows/session/PingFlow.h"
#include "flows/session/SaveEncryptionKeyFlow.h"
#include "flows/session/SaveTokenFlow.h"
#include "flows/session/StartUserSessionFlow.h"

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

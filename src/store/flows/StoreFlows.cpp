#include "store/flows/StoreFlows.h"

#include "store/flows/ClearPracticeMinutesFlowByClientID.h"
#include "store/flows/ClearPracticeMinutesFlowBySongID.h"
#include "store/flows/GetPracticeMinutesFlow.h"
#include "store/flows/SavePracticeMinutesFlow.h"

namespace kv {

void addStoreFlows(FlowTable& table) {
    table.add<GetPracticeMinutesFlow>(49);
    table.add<SavePracticeMinutesFlow>(50);
    table.add<ClearPracticeMinutesFlowBySongID>(51);
    table.add<ClearPracticeMinutesFlowByClientID>(52);
}

}  // namespace kv

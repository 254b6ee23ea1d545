#include "store/flows/StoreFlows.h"

#include "store/flows/CheckMidiCacheFlow.h"
#include "store/flows/CheckXMLCacheFlow.h"
#include "store/flows/ClearPracticeMinutesFlowByClientID.h"
#include "store/flows/ClearPracticeMinutesFlowBySongID.h"
#include "store/flows/GetPracticeMinutesFlow.h"
#include "store/flows/SaveMidiCacheFlow.h"
#include "store/flows/SavePracticeMinutesFlow.h"
#include "store/flows/SaveXMLCacheFlow.h"

namespace kv {

void addStoreFlows(FlowTable& table) {
    table.add<CheckMidiCacheFlow>(5);
    table.add<SaveMidiCacheFlow>(6);
    table.add<SaveXMLCacheFlow>(19);
    table.add<CheckXMLCacheFlow>(20);
    table.add<GetPracticeMinutesFlow>(49);
    table.add<SavePracticeMinutesFlow>(50);
    table.add<ClearPracticeMinutesFlowBySongID>(51);
    table.add<ClearPracticeMinutesFlowByClientID>(52);
}

}  // namespace kv

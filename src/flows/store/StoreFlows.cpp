#include "flows/store/StoreFlows.h"

#include "flows/store/CheckMidiCacheFlow.h"
#include "flows/store/CheckXMLCacheFlow.h"
#include "flows/store/ClearPracticeMinutesFlowByClientID.h"
#include "flows/store/ClearPracticeMinutesFlowBySongID.h"
#include "flows/store/GetPracticeMinutesFlow.h"
#include "flows/store/SaveMidiCacheFlow.h"
#include "flows/store/SavePracticeMinutesFlow.h"
#include "flows/store/SaveXMLCacheFlow.h"

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

#include "app/AllFlows.h"

#include "core/flows/SessionFlows.h"
#include "store/flows/StoreFlows.h"

namespace kv {

FlowTable makeAllFlows() {
    FlowTable table;
    addSessionFlows(table);
    addStoreFlows(table);
    return table;
}

}  // namespace kv

#include "app/AllFlows.h"

#include "core/flows/SessionFlows.h"

namespace kv {

FlowTable makeAllFlows() {
    FlowTable table;
    addSessionFlows(table);
    return table;
}

}  // namespace kv

#include "flows/leds/LedFlows.h"

#include "flows/leds/SetLedFlow.h"

namespace kv {

void addLedFlows(FlowTable& table) {
    table.add<SetLedFlow>(60);
}

}  // namespace kv

#include "leds/flows/LedFlows.h"

#include "leds/flows/SetLedFlow.h"

namespace kv {

void addLedFlows(FlowTable& table) {
    table.add<SetLedFlow>(60);
}

}  // namespace kv

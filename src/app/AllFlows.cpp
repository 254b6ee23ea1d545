#include "app/AllFlows.h"

#include "core/flows/SessionFlows.h"
#include "leds/flows/LedFlows.h"
#include "midi/flows/MidiFlows.h"
#include "store/flows/StoreFlows.h"

namespace kv {

FlowTable makeAllFlows() {
    FlowTable table;
    addSessionFlows(table);
    addStoreFlows(table);
    addMidiFlows(table);
    addLedFlows(table);
    return table;
}

}  // namespace kv

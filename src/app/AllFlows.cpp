#include "app/AllFlows.h"

#include "core/flows/SessionFlows.h"
#include "leds/flows/LedFlows.h"
#include "midi/flows/MidiFlows.h"
#include "playback/flows/PlaybackFlows.h"
#include "store/flows/StoreFlows.h"

namespace kv {

FlowTable makeAllFlows() {
    FlowTable table;
    addSessionFlows(table);
    addStoreFlows(table);
    addMidiFlows(table);
    addLedFlows(table);
    addPlaybackFlows(table);
    return table;
}

}  // namespace kv

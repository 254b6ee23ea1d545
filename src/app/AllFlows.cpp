#include "app/AllFlows.h"

#include "flows/session/SessionFlows.h"
#include "flows/leds/LedFlows.h"
#include "flows/midi/MidiFlows.h"
#include "flows/playback/PlaybackFlows.h"
#include "flows/store/StoreFlows.h"

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

#include "playback/flows/PlaybackFlows.h"

#include "playback/flows/GetAllSettingVolumeFlow.h"
#include "playback/flows/PlayMidiSongFlow.h"
#include "playback/flows/PreparePlayingDataFlow.h"
#include "playback/flows/SaveAccompanimentVolumeFlow.h"
#include "playback/flows/SaveCountOffVolumeFlow.h"
#include "playback/flows/SaveInstrumentVolumeFlow.h"
#include "playback/flows/SaveMetronomeVolumeFlow.h"
#include "playback/flows/StopPlayMidiFlow.h"

namespace kv {

void addPlaybackFlows(FlowTable& table) {
    table.add<PreparePlayingDataFlow>(9);
    table.add<StopPlayMidiFlow>(10);
    table.add<PlayMidiSongFlow>(12);
    table.add<SaveAccompanimentVolumeFlow>(55);
    table.add<SaveMetronomeVolumeFlow>(56);
    table.add<SaveInstrumentVolumeFlow>(57);
    table.add<GetAllSettingVolumeFlow>(58);
    table.add<SaveCountOffVolumeFlow>(59);
}

}  // namespace kv

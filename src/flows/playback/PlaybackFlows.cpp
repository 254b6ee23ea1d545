#include "flows/playback/PlaybackFlows.h"

#include "flows/playback/GetAllSettingVolumeFlow.h"
#include "flows/playback/PlayMidiSongFlow.h"
#include "flows/playback/PreparePlayingDataFlow.h"
#include "flows/playback/SaveAccompanimentVolumeFlow.h"
#include "flows/playback/SaveCountOffVolumeFlow.h"
#include "flows/playback/SaveInstrumentVolumeFlow.h"
#include "flows/playback/SaveMetronomeVolumeFlow.h"
#include "flows/playback/StopPlayMidiFlow.h"

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

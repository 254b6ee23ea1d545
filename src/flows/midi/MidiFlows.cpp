#include "flows/midi/MidiFlows.h"

#include "flows/midi/GetCurrentDeviceFlow.h"
#include "flows/midi/GetKeyForWaitModeFlow.h"
#include "flows/midi/GetLatencyFlow.h"
#include "flows/midi/GetListDevicesFlow.h"
#include "flows/midi/GetMidiNoteSettingDeviceFlow.h"
#include "flows/midi/PlayWaitModeFlow.h"
#include "flows/midi/SaveMidiDeviceKeySettingFlow.h"
#include "flows/midi/StartSettingDeviceFlow.h"
#include "flows/midi/StartSettingDeviceSingleConnectionFlow.h"
#include "flows/midi/StopSettingDeviceFlow.h"
#include "flows/midi/StopSettingDeviceSingleConnectionFlow.h"
#include "flows/midi/StopWaitModeFlow.h"
#include "flows/midi/UpdateMidiSettingFlow.h"
#include "flows/midi/UserSelectDeviceFlow.h"

namespace kv {

void addMidiFlows(FlowTable& table) {
    table.add<GetListDevicesFlow>(3);
    table.add<UserSelectDeviceFlow>(4);
    table.add<GetCurrentDeviceFlow>(7);
    table.add<SaveMidiDeviceKeySettingFlow>(14);
    table.add<GetLatencyFlow>(15);
    table.add<UpdateMidiSettingFlow>(23);
    table.add<StartSettingDeviceFlow>(27);
    table.add<StopSettingDeviceFlow>(28);
    table.add<GetMidiNoteSettingDeviceFlow>(29);
    table.add<PlayWaitModeFlow>(46);
    table.add<StopWaitModeFlow>(47);
    table.add<GetKeyForWaitModeFlow>(48);
    table.add<StartSettingDeviceSingleConnectionFlow>(53);
    table.add<StopSettingDeviceSingleConnectionFlow>(54);
}

}  // namespace kv

#include "midi/flows/MidiFlows.h"

#include "midi/flows/GetCurrentDeviceFlow.h"
#include "midi/flows/GetKeyForWaitModeFlow.h"
#include "midi/flows/GetLatencyFlow.h"
#include "midi/flows/GetListDevicesFlow.h"
#include "midi/flows/GetMidiNoteSettingDeviceFlow.h"
#include "midi/flows/PlayWaitModeFlow.h"
#include "midi/flows/SaveMidiDeviceKeySettingFlow.h"
#include "midi/flows/StartSettingDeviceFlow.h"
#include "midi/flows/StartSettingDeviceSingleConnectionFlow.h"
#include "midi/flows/StopSettingDeviceFlow.h"
#include "midi/flows/StopSettingDeviceSingleConnectionFlow.h"
#include "midi/flows/StopWaitModeFlow.h"
#include "midi/flows/UpdateMidiSettingFlow.h"
#include "midi/flows/UserSelectDeviceFlow.h"

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

#include "flows/midi/SaveMidiDeviceKeySettingFlow.h"

#include "base/DateText.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "core/Note.h"
#include "core/WhiteNoteConverter.h"
#include "store/DeviceHelper.h"

namespace kv {

namespace {

nlohmann::json failure(const char* message) {
    logText(kLogError, message);
    return {{"code", -1}, {"message", message}};
}

// A key that is not an object does not read as a note, as a key that is absent.
std::optional<Note> readNote(const nlohmann::json& data, const char* key) {
    const auto found = data.find(key);
    if (found == data.end() || !found->is_object()) return std::nullopt;
    return Note{json_reading::readString(*found, "pitch").value_or(""),
                json_reading::readInt32(*found, "octave").value_or(0)};
}

std::int32_t noteNumber(const Note& note) {
    return WhiteNoteConverter::convertWhiteNoteToNumber(note.pitch, note.octave);
}

}  // namespace

nlohmann::json SaveMidiDeviceKeySettingFlow::processData(const nlohmann::json& requestData, const std::string&,
                                                         const BaseRequestJSONObject&) {
    const auto lowest = readNote(requestData, "LowestNote");
    const auto highest = readNote(requestData, "HighestNote");
    if (!lowest || !highest) return failure("Can not parse lowestNote or highestNote");
    auto& session = KeyvoraFlow::shared();
    const auto current = session.currentMidiDevice.get();
    const DeviceHelper devices(Database::shared());
    auto record = devices.getDeviceByName(current->name);
    if (!record) return failure("Device did not available in database");
    record->lowestNote = noteNumber(*lowest);
    record->highestNote = noteNumber(*highest);
    record->modifiedDate = toString();
    current->lowestNote = record->lowestNote;
    current->highestNote = record->highestNote;
    if (!devices.updateDevice(*record)) return {{"code", -1}, {"message", "Update device to database fail"}};
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv

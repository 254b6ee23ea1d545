#include "flows/session/StartUserSessionFlow.h"

#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "core/NewUser.h"
#include "core/WhiteNoteConverter.h"
#include "store/UserHelper.h"

namespace kv {

namespace {

nlohmann::json keyObject(std::int32_t noteNumber) {
    const WhiteNote note = WhiteNoteConverter::getWhiteNote(noteNumber);
    return {{"pitch", note.pitch}, {"octave", note.octave}};
}

std::optional<User> findOrCreateUser(const BaseRequestJSONObject& request) {
    const std::string clientID = request.clientID.value_or("");
    if (auto user = UserHelper(Database::shared()).getUserByID(clientID)) return user;
    auto user = newUser(request);
    if (!user || !UserHelper(Database::shared()).insertUser(*user)) return std::nullopt;
    return user;
}

}  // namespace

nlohmann::json StartUserSessionFlow::processData(const nlohmann::json&, const std::string&,
                                                 const BaseRequestJSONObject& request) {
    try {
        const auto user = findOrCreateUser(request);
        if (!user) {
            logText(kLogDebug, "insert User is fail");
            return {{"message", "insert User is fail"}, {"code", -1}};
        }
        auto& session = KeyvoraFlow::shared();
        session.currentUser.set(user);

        nlohmann::json result = {{"Device", nlohmann::json::object()},
                                 {"speakerPc", user->speakerPc},
                                 {"virtualPianoSoundVolume", user->speakerPcVelocity},
                                 {"message", "SUCCESS"},
                                 {"code", 0}};
        const auto device = session.currentMidiDevice.get();
        if (!device->name.empty()) {
            result["Device"] = {{"id", device->deviceId},
                                {"deviceName", device->name},
                                {"deviceCount", session.listDevices.get().size()}};
            result["PianoLowestNote"] = keyObject(device->lowestNote);
            result["PianoHighestNote"] = keyObject(device->highestNote);
        }
        return result;
    } catch (const std::exception& error) {
        logText(kLogDebug, "Error happen!");
        return {{"message", error.what()}, {"code", -1}};
    }
}

}  // namespace kv

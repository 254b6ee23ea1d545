#include "flows/midi/UpdateMidiSettingFlow.h"

#include "base/JsonReading.h"
#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "core/NewUser.h"
#include "store/UserHelper.h"

namespace kv {

namespace {

nlohmann::json failure(const char* message) {
    logText(kLogError, message);
    return {{"code", -1}, {"message", message}};
}

}  // namespace

nlohmann::json UpdateMidiSettingFlow::processData(const nlohmann::json& requestData, const std::string&,
                                                  const BaseRequestJSONObject& request) {
    try {
        auto& session = KeyvoraFlow::shared();
        // Present with any value, false included, switches the virtual piano on.
        const bool speakerPc = requestData.contains("speakerPc");
        session.isPlayMidiMessage = speakerPc;
        const std::int32_t volume = json_reading::readInt32(requestData, "virtualPianoSoundVolume").value_or(0);
        const std::string clientID = request.clientID.value_or("");
        if (auto user = UserHelper(Database::shared()).getUserByID(clientID)) {
            user->speakerPc = speakerPc;
            user->speakerPcVelocity = volume;
            if (!UserHelper(Database::shared()).updateUser(*user)) return failure("update user fail");
            session.currentUser.set(user);
            return {{"code", 0}, {"message", "SUCCESS"}};
        }
        auto user = newUser(request);
        if (!user) return failure("insert User is fail");
        user->speakerPc = speakerPc;
        user->speakerPcVelocity = volume;
        if (!UserHelper(Database::shared()).insertUser(*user)) return failure("insert User is fail");
        session.currentUser.set(user);
        return {{"code", 0}, {"message", "SUCCESS"}};
    } catch (const std::exception& error) {
        logText(kLogError, error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv

#include "core/BaseResponseJSONObject.h"

#include "base/DateText.h"
#include "base/JsonText.h"

namespace kv {

namespace {

constexpr std::int32_t kPreparePlayingDataMethod = 9;
constexpr std::int32_t kPlayingResponseCode = 7;

void putIfPresent(nlohmann::json& object, const char* key, const std::optional<std::string>& value) {
    if (value) object[key] = *value;
}

}  // namespace

std::string BaseResponseJSONObject::toJSONString() const {
    nlohmann::json object = nlohmann::json::object();
    putIfPresent(object, "clientID", clientID);
    putIfPresent(object, "clientSecret", clientSecret);
    object["methodName"] = methodName;
    putIfPresent(object, "token", token);
    object["isStudentMode"] = isStudentMode;
    putIfPresent(object, "installationId", installationId);
    putIfPresent(object, "expiredDate", expiredDate);
    putIfPresent(object, "encoding", encoding);
    putIfPresent(object, "requestDate", requestDate);
    object["responseCode"] = responseCode;
    putIfPresent(object, "responseDate", responseDate);
    putIfPresent(object, "localRequestDate", localRequestDate);
    object["timezoneOffset"] = timezoneOffset;
    object["noEncryption"] = noEncryption;
    putIfPresent(object, "functionId", functionId);
    if (data) object["data"] = *data;
    putIfPresent(object, "errorMessage", errorMessage);
    return toJSONText(object);
}

BaseResponseJSONObject composeResponseMessage(std::optional<nlohmann::json> data,
                                              std::int32_t responseCode, std::string message,
                                              const BaseRequestJSONObject& request, const KeyvoraFlow& session) {
    BaseResponseJSONObject response;
    response.clientID = request.clientID;
    response.clientSecret = request.clientSecret;
    response.data = std::move(data);
    response.methodName = request.methodName;
    response.expiredDate = request.expiredDate;
    response.token = request.token;
    response.installationId = request.installationId;
    response.encoding = request.encoding;
    response.requestDate = request.requestDate;
    response.localRequestDate = request.localRequestDate;
    response.responseDate = currentDate();
    response.functionId = request.functionId;
    response.responseCode = responseCode;
    response.errorMessage = std::move(message);
    if (request.methodName == kPreparePlayingDataMethod && session.APP_STATE != 0 &&
        !session.isStopMusic) {
        response.responseCode = kPlayingResponseCode;
        response.errorMessage = "THE DEVICE IS PLAYING MIDI FILE";
    }
    return response;
}

}  // namespace kv

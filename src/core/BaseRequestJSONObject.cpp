#include "core/BaseRequestJSONObject.h"

#include "base/JsonReading.h"
#include "base/JsonText.h"

#include <stdexcept>

namespace kv {

namespace reading = json_reading;

BaseRequestJSONObject BaseRequestJSONObject::fromDictionary(const nlohmann::json& dictionary) {
    BaseRequestJSONObject request;
    request.clientID = reading::readString(dictionary, "clientID");
    request.clientSecret = reading::readString(dictionary, "clientSecret");
    request.methodName = reading::readInt32(dictionary, "methodName").value_or(0);
    request.token = reading::readString(dictionary, "token");
    request.isStudentMode = reading::readBool(dictionary, "isStudentMode").value_or(false);
    request.installationId = reading::readString(dictionary, "installationId");
    request.expiredDate = reading::readString(dictionary, "expiredDate");
    request.encoding = reading::readString(dictionary, "encoding");
    request.requestDate = reading::readString(dictionary, "requestDate");
    request.localRequestDate = reading::readString(dictionary, "localRequestDate");
    request.timezoneOffset = reading::readInt32(dictionary, "timezoneOffset").value_or(0);
    request.noEncryption = reading::readBool(dictionary, "noEncryption").value_or(false);
    request.lang = reading::readString(dictionary, "lang");
    request.functionId = reading::readString(dictionary, "functionId");
    request.data = reading::readObject(dictionary, "data");
    request.version = reading::readString(dictionary, "version");
    return request;
}

BaseRequestJSONObject parseRequest(std::string_view text) {
    const auto dictionary = JSONStringToDictionary(text);
    if (dictionary && !dictionary->is_object()) {
        throw std::invalid_argument("Request is not a JSON object");
    }
    const nlohmann::json empty = nlohmann::json::object();
    const nlohmann::json& fields = dictionary ? *dictionary : empty;
    return BaseRequestJSONObject::fromDictionary(fields);
}

}  // namespace kv

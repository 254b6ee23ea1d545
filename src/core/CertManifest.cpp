#include "core/CertManifest.h"

#include "base/JsonText.h"

#include <optional>
#include <stdexcept>

namespace kv {

namespace {

std::string textMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

std::variant<CertManifest, std::string> CertManifest::parse(std::string_view body) {
    std::optional<nlohmann::json> json;
    try {
        json = JSONStringToDictionary(body);
    } catch (const std::runtime_error&) {
        json.reset();  // nested too deep: no manifest of ours
    }
    if (!json || !json->is_object()) return std::string("manifest JSON parse fail");
    CertManifest manifest;
    manifest.version = textMember(*json, "version");
    manifest.url = textMember(*json, "url");
    manifest.sha256 = textMember(*json, "sha256");
    if (manifest.version.empty() || manifest.url.empty()) return std::string("manifest thiếu version/url");
    return manifest;
}

}  // namespace kv

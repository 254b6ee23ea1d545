#include "flows/session/GetEncryptionKeyFlow.h"

namespace kv {

namespace {
// Keys in this order and without spaces: the web application reads the text as it is.
constexpr const char* kEncryptionKeyRecord =
    R"({"iv":"5c0e9a2f7b3d1e4a6f8c0b2d4e6a8c1f",)"
    R"("salt":"9e3b7c1d5f2a4b6c8d0e1f3a5b7c9d2e4f6a8b0c1d3e5f7a9b2c4d6e8f0a1b3c",)"
    R"("keySize":128,"iterations":100,"passPhrase":"7d2c9e4b1a6f3e80",)"
    R"("lastModified":"2017-12-04T04:41:51"})";
}  // namespace

nlohmann::json GetEncryptionKeyFlow::processData(const nlohmann::json&, const std::string&,
                                                 const BaseRequestJSONObject&) {
    return {{"EncryptionKey", kEncryptionKeyRecord}, {"message", ""}, {"code", 0}};
}

}  // namespace kv

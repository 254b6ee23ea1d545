#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace kv {

// What the certificate manifest names: the current certificate version and where its PKCS#12
// file is, with the file's SHA-256 when the manifest gives one.
struct CertManifest {
    std::string version;
    std::string url;
    std::string sha256;
    std::string etag;  // of the response that carried it; the manifest itself has none

    // The manifest a server's body names, or the log line that says why it names none.
    static std::variant<CertManifest, std::string> parse(std::string_view body);
};

}  // namespace kv

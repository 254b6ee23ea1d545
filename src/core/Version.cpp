#include "core/Version.h"

#include "kvplugin/BuildInfo.h"

namespace kv {

std::string getVersion() {
    return build::kVersion;
}

std::string getBuild() {
    return build::kBuildNumber;
}

}  // namespace kv

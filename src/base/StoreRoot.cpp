#include "base/StoreRoot.h"

#include "base/DataDirectories.h"
#include "kvplugin/BuildInfo.h"

namespace kv {

std::filesystem::path storeRoot() {
    return xdgDataHome() / build::kBundleId;
}

}  // namespace kv

#include "base/StoreRoot.h"

#include "kvplugin/BuildInfo.h"
#include "platform/desktop/DataDirectories.h"

namespace kv {

std::filesystem::path storeRoot() {
    return xdgDataHome() / build::kBundleId;
}

}  // namespace kv

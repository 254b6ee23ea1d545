#include "platform/desktop/Resources.h"

#include <system_error>

namespace kv {

namespace fs = std::filesystem;

fs::path resourcesFolder() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const fs::path folder = error ? fs::current_path() : executable.parent_path();
    for (const fs::path& candidate :
         {folder / "resources", folder.parent_path() / "resources",
          folder.parent_path() / "share" / "kvplugin" / "resources"}) {
        if (fs::is_directory(candidate, error)) return candidate;
    }
    return folder / "resources";
}

fs::path resourcePath(std::string_view name) {
    return resourcesFolder() / name;
}

}  // namespace kv

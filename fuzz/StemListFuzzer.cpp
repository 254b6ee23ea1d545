// libFuzzer: the stem list of a prepare request, read as the downloader reads it, and each stem's
// file name made from what it names. Built and run by `make fuzz`.
#include "base/JsonText.h"
#include "stems/StemFiles.h"
#include "stems/StemList.h"
#include "stems/StemsDownloader.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<nlohmann::json> list;
    try {
        list = kv::JSONStringToDictionary({reinterpret_cast<const char*>(data), size});
    } catch (const std::runtime_error&) {
        return 0;  // the receive path refuses it before any flow
    }
    if (!list) return 0;
    const auto parsed = kv::StemList::parse(*list);
    if (parsed.entries.size() > kv::StemList::kMaxStems) __builtin_trap();
    for (const auto& entry : parsed.entries) {
        // The name is the folder's only record: it must stay in the folder and give back what it holds.
        const std::string name = kv::stem_files::fileName(entry.instrumentId, entry.tempo, entry.lastModified);
        if (name.find('/') != std::string::npos || name.starts_with(".")) __builtin_trap();
        if (kv::stem_files::instrumentOf(name) != entry.instrumentId) __builtin_trap();
        if (kv::StemsDownloader::tempoFromPath(name) != static_cast<double>(entry.tempo)) __builtin_trap();
    }
    return 0;
}

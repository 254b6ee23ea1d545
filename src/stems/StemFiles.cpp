#include "stems/StemFiles.h"

#include "base/Console.h"
#include "base/TextFormat.h"

#include <cstdio>
#include <fstream>

namespace kv::stem_files {

namespace {

// The code points of UTF-8 text (JSON strings are valid UTF-8).
template <class Visit>
void forEachCodePoint(std::string_view text, Visit visit) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < text.size(); ++k) {
            point = point << 6 | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
        }
        visit(point);
        i += static_cast<std::size_t>(length);
    }
}

}  // namespace

std::string versionHash(std::string_view text) {
    std::uint32_t hash = 5381;
    forEachCodePoint(text, [&hash](std::uint32_t point) {
        if (point < 0x10000) {
            hash = hash * 33 + point;
            return;
        }
        point -= 0x10000;  // a surrogate pair
        hash = hash * 33 + (0xD800 + (point >> 10));
        hash = hash * 33 + (0xDC00 + (point & 0x3FF));
    });
    if (text.empty()) return "00000000";
    return formatText("%08lx", static_cast<unsigned long>(hash));
}

std::string fileName(std::int64_t instrument, std::int64_t tempo, std::string_view lastModified) {
    return formatText("%ld_%ld_%s.mp3", static_cast<long>(instrument), static_cast<long>(tempo), versionHash(lastModified).c_str());
}

std::vector<std::string> fields(const std::filesystem::path& file) {
    std::vector<std::string> parts;
    const std::string stem = file.stem().string();
    std::size_t from = 0;
    while (true) {
        const auto at = stem.find('_', from);
        parts.push_back(stem.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

std::int64_t instrumentOf(const std::filesystem::path& file) {
    const auto parts = fields(file);
    try {
        return std::stoll(parts.front());
    } catch (const std::exception&) {
        return 0;
    }
}

bool hasMp3Header(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    unsigned char header[10] = {};
    stream.read(reinterpret_cast<char*>(header), sizeof header);
    const auto read = stream.gcount();
    if (read < 3) return false;
    if (header[0] == 0x49 && header[1] == 0x44 && header[2] == 0x33) return true;
    if (header[0] == 0xFF && header[1] >= 0xE0) return true;
    consoleLine(formatText("[StemsDownloader] Unknown header: %02X %02X %02X", header[0], header[1], header[2]));
    return false;
}

std::filesystem::path songFolder(const std::filesystem::path& root, const std::string& songId) {
    const std::filesystem::path base = root.empty() ? std::filesystem::temp_directory_path() : root;
    return base / "Cache" / songId;
}

}  // namespace kv::stem_files

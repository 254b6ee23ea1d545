#include "stems/StemList.h"

#include "base/JsonReading.h"
#include "base/TextFormat.h"

namespace kv {

namespace {

std::string textOf(const nlohmann::json& entry, const char* key) {
    const auto found = entry.find(key);
    return found != entry.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::int64_t integerOf(const nlohmann::json& entry, const char* key) {
    const auto found = entry.find(key);
    return found != entry.end() ? json_reading::toInt64(*found) : 0;
}

// Why the entry is left out; empty for a valid one.
std::string problemOf(const StemEntry& entry) {
    if (entry.instrumentId < 1) return formatText("Invalid instrument_id: %ld", static_cast<long>(entry.instrumentId));
    if (entry.tempo < 1) {
        return formatText("Invalid tempo: %ld for instrument %ld", static_cast<long>(entry.tempo), static_cast<long>(entry.instrumentId));
    }
    if (!entry.link.starts_with("http")) {
        return formatText("Invalid link for instrument %ld: %s", static_cast<long>(entry.instrumentId), entry.link.c_str());
    }
    if (entry.lastModified.empty()) return formatText("Missing last_modified for instrument %ld", static_cast<long>(entry.instrumentId));
    return {};
}

}  // namespace

StemList StemList::parse(const nlohmann::json& list) {
    StemList parsed;
    if (!list.is_array()) return parsed;
    // A hostile list of thousands of bad entries gets a few warnings and a count, not a warning each.
    std::size_t unlisted = 0;
    const auto warn = [&](std::string warning) {
        if (parsed.warnings.size() < kMaxStems) {
            parsed.warnings.push_back(std::move(warning));
        } else {
            ++unlisted;
        }
    };
    for (const auto& item : list) {
        if (parsed.entries.size() == kMaxStems) {
            warn(formatText("More than %lu stems: the rest is left out", static_cast<unsigned long>(kMaxStems)));
            break;
        }
        if (!item.is_object()) {
            warn("Item is not a dictionary");
            continue;
        }
        StemEntry entry;
        entry.instrumentId = integerOf(item, "instrument_id");
        entry.tempo = integerOf(item, "tempo");
        entry.link = textOf(item, "link");
        entry.lastModified = textOf(item, "last_modified");
        entry.index = integerOf(item, "index");
        entry.instrumentName = textOf(item, "instrument_name");
        if (entry.instrumentName.empty()) entry.instrumentName = "Unknown";
        if (auto problem = problemOf(entry); !problem.empty()) {
            warn(std::move(problem));
        } else {
            parsed.entries.push_back(std::move(entry));
        }
    }
    if (unlisted > 0) parsed.warnings.push_back(formatText("%lu more warnings", static_cast<unsigned long>(unlisted)));
    return parsed;
}

}  // namespace kv

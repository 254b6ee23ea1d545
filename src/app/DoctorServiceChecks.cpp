#include "app/DoctorChecks.h"

#include "base/TextFormat.h"
#include "core/CertManager.h"
#include "platform/crypto/Pkcs12Identity.h"
#include "platform/net/PortListeners.h"
#include "store/Database.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <optional>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kServiceProgram = "kvplugin";

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string describe(const std::vector<PortListener>& listeners) {
    if (listeners.empty()) return "free";
    const PortListener& holder = listeners.front();
    if (holder.pid == 0) return "held by a program of another user";
    if (holder.program == kServiceProgram) return formatText("held by this service (pid %d)", holder.pid);
    return formatText("held by another program: %s (pid %d)", holder.program.c_str(), holder.pid);
}

bool heldByAnother(const std::vector<PortListener>& listeners) {
    return !listeners.empty() && listeners.front().program != kServiceProgram;
}

// One listener's ports: the service takes the first it can, so only all of them held by others
// keeps the browser out.
void checkPortPair(const std::vector<std::uint16_t>& ports, const char* scheme, DoctorSection& section) {
    std::size_t taken = 0;
    for (const std::uint16_t port : ports) {
        const auto listeners = portListeners(port);
        taken += heldByAnother(listeners);
        section.say(formatText("%u (%s): ", port, scheme) + describe(listeners) + ".");
    }
    if (!ports.empty() && taken == ports.size()) {
        section.problem(std::string("Every ") + scheme + " port is held by another program: the web application cannot "
                        "reach the service until it ends.");
    } else if (taken > 0) {
        section.note(std::string("The service moves its ") + scheme + " listener past a port another program holds.");
    }
}

std::string daysFrom(Date now, Date then) {
    const auto days = std::chrono::duration_cast<std::chrono::hours>(then - now).count() / 24;
    return days >= 0 ? formatText("in %lld days", static_cast<long long>(days))
                     : formatText("%lld days ago", static_cast<long long>(-days));
}

// The last check's time and result as the certificate manager keeps them.
std::string lastCheckOf(const fs::path& folder) {
    const auto bytes = bytesOf(folder / "cert-state.json");
    const auto state = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!state.is_object() || !state.contains("lastCheck")) return "No check for a new certificate is on record yet.";
    return "Last check " + state.value("lastCheck", std::string()) + " UTC: " + state.value("lastResult", std::string()) +
           " (installed version: " + state.value("version", std::string("none")) + ").";
}

std::uintmax_t folderSize(const fs::path& folder, std::size_t& files) {
    std::uintmax_t size = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code unreadable;
        if (!it->is_regular_file(unreadable)) continue;
        size += it->file_size(unreadable);
        ++files;
    }
    return size;
}

}  // namespace

DoctorSection checkPorts(const std::vector<std::uint16_t>& plain, const std::vector<std::uint16_t>& tls) {
    DoctorSection section{"Ports"};
    checkPortPair(plain, "ws", section);
    checkPortPair(tls, "wss", section);
    return section;
}

DoctorSection checkCertificate(const fs::path& folder, const fs::path& shipped, Date now) {
    DoctorSection section{"Certificate"};
    const fs::path installed = folder / "current.pfx";
    auto imported = Pkcs12Identity::import(bytesOf(installed), CertManager::kPfxPassword);
    fs::path served = installed;
    if (!std::holds_alternative<Pkcs12Identity>(imported)) {
        std::error_code error;
        if (fs::exists(installed, error)) section.note(installed.string() + " does not read; the shipped certificate serves.");
        imported = Pkcs12Identity::import(bytesOf(shipped), CertManager::kPfxPassword);
        served = shipped;
    }
    const auto* identity = std::get_if<Pkcs12Identity>(&imported);
    if (!identity) {
        section.problem("No certificate reads (" + served.string() + "): wss is not served.");
        return section;
    }
    section.say("Serves " + served.string() + ": " + identity->subject() + ".");
    if (const auto notAfter = identity->notAfter()) {
        const std::string expiry = "Expires " + utcText(*notAfter) + " UTC, " + daysFrom(now, *notAfter) + ".";
        *notAfter < now ? section.problem(expiry + " Browsers refuse wss with it.") : section.say(expiry);
    }
    section.say(lastCheckOf(folder));
    return section;
}

DoctorSection checkStore(const fs::path& root) {
    DoctorSection section{"Store"};
    const fs::path database = root / Database::kFileName;
    std::error_code error;
    if (!fs::exists(database, error)) {
        section.note(database.string() + " does not exist yet: the service makes it at its first start.");
    } else {
        section.say(formatText("%s, %.1f MB.", database.c_str(), static_cast<double>(fs::file_size(database, error)) / (1024 * 1024)));
        try {
            SQLite::Database store(database.string(), SQLite::OPEN_READONLY);
            const std::string result = store.execAndGet("PRAGMA integrity_check").getString();
            result == "ok" ? section.say("Its integrity check passes.")
                           : section.problem("Its integrity check fails: " + result.substr(0, result.find('\n')));
        } catch (const std::exception& failure) {
            section.problem(std::string("Its integrity check fails: ") + failure.what());
        }
    }
    std::size_t files = 0;
    const auto logs = folderSize(root / "Logger", files);
    section.say(formatText("Logs: %s, %zu files, %.1f MB.", (root / "Logger").c_str(), files, static_cast<double>(logs) / (1024 * 1024)));
    return section;
}

DoctorSection checkThisService(const std::vector<std::uint16_t>& plain, const fs::path& autostart) {
    DoctorSection section{"This service"};
    std::optional<pid_t> running;
    for (const std::uint16_t port : plain) {
        for (const PortListener& listener : portListeners(port)) {
            if (listener.program == kServiceProgram) running = listener.pid;
        }
    }
    running ? section.say(formatText("Runs (pid %d).", *running)) : section.note("Does not run now: start KVPlugin before a lesson.");
    std::error_code error;
    section.say(fs::exists(autostart, error) ? "Starts at login (" + autostart.string() + ")." : "Does not start at login.");
    return section;
}

}  // namespace kv

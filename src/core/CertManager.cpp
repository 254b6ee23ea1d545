#include "core/CertManager.h"

#include "base/Console.h"
#include "base/JsonText.h"
#include "core/CertManifest.h"
#include "kvplugin/BuildInfo.h"
#include "platform/crypto/Pkcs12Identity.h"
#include "platform/crypto/RandomUuid.h"
#include "platform/crypto/Sha256.h"
#include "platform/desktop/Resources.h"
#include "platform/dispatch/DelayedWork.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include <boost/asio/post.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <random>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr auto kPollInterval = std::chrono::hours(1);
constexpr auto kImmediateCheckSpacing = std::chrono::seconds(30);
constexpr int kStartPhaseSteps = 1000;  // the hourly phase: a thousandth of 120 s at a time
constexpr auto kMaxStartPhase = std::chrono::milliseconds(120'000);

void log(const std::string& text) {
    consoleLine("[CertManager] " + text);
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::string normalizedDigest(std::string_view digest) {
    std::string text;
    for (const char c : digest) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    return text;
}

bool matchesSha256(const std::vector<std::uint8_t>& data, std::string_view digest) {
    return sha256Hex(data) == normalizedDigest(digest);
}

std::optional<Pkcs12Identity> importPfx(std::span<const std::uint8_t> data) {
    auto imported = Pkcs12Identity::import(data, CertManager::kPfxPassword);
    if (auto* identity = std::get_if<Pkcs12Identity>(&imported)) return std::move(*identity);
    return std::nullopt;
}

std::optional<std::string> fingerprintOfFile(const fs::path& path) {
    const auto data = File::readFromFileToDataWithURL(path);
    if (!data || data->empty()) return std::nullopt;
    const auto identity = importPfx(*data);
    if (!identity) return std::nullopt;
    return identity->fingerprint();
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<std::string> textMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

}  // namespace

CertManager::Settings CertManager::Settings::standard(boost::asio::any_io_executor mainExecutor) {
    Settings settings;
    settings.manifestUrl = environment("KVPLUGIN_CERT_MANIFEST_URL").value_or(build::kCertManifestUrl);
    settings.caFile = environment("KVPLUGIN_CA_FILE");
    settings.certDir = getCertificateFolderPath();
    settings.bundledPfx = resourcePath("lumen.pfx");
    settings.mainExecutor = std::move(mainExecutor);
    return settings;
}

CertManager::CertManager(Settings settings, HttpTransfers& transfers)
    : settings_(std::move(settings)),
      http_(transfers, settings_.caFile),
      pollTimer_(std::make_shared<RepeatingTimer>(settings_.mainExecutor, kPollInterval,
                                                  [this] { checkManifest(); })) {}

CertManager::~CertManager() {
    stop();
}

void CertManager::stop() {
    stopping_ = true;  // a download in progress gives up
    pollTimer_->cancel();
    workQ_.stop();
}

void CertManager::start() {
    if (started_.exchange(true)) return;
    workQ_.async([this] {
        removeInterruptedWrites();
        loadState();
        doCheckOnQueue();
    });
    std::mt19937 random(std::random_device{}());
    const auto phase = kMaxStartPhase * std::uniform_int_distribution<int>(0, kStartPhaseSteps - 1)(random) /
                       kStartPhaseSteps;
    postDelayed(settings_.mainExecutor, phase,
                [timer = std::weak_ptr<RepeatingTimer>(pollTimer_)] {
                    if (auto pollTimer = timer.lock()) pollTimer->start();
                });
}

void CertManager::triggerImmediateCheck() {
    workQ_.async([this] {
        const Date now = settings_.now();
        if (lastImmediateCheck_ && now - *lastImmediateCheck_ < kImmediateCheckSpacing) return;
        lastImmediateCheck_ = now;
        doCheckOnQueue();
    });
}

void CertManager::checkManifest() {
    workQ_.async([this] { doCheckOnQueue(); });
}

std::future<void> CertManager::whenIdle() {
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    workQ_.async([done] { done->set_value(); });
    return future;
}

std::optional<fs::path> CertManager::activePfxPath() const {
    if (!fingerprintOfFile(pfxPath())) return std::nullopt;
    return pfxPath();
}

// A service stopped in the middle of an install leaves its download ("dl-….tmp") or a file being
// written (".<name>.XXXXXX"); neither is ever read, and nothing else is written here meanwhile.
void CertManager::removeInterruptedWrites() {
    std::error_code error;
    for (auto it = fs::directory_iterator(settings_.certDir, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name.starts_with(".") || (name.starts_with("dl-") && name.ends_with(".tmp"))) fs::remove(it->path(), ignored);
    }
}

void CertManager::note(const std::string& text) {
    log(text);
    outcome_ = text;
}

void CertManager::loadState() {
    const auto data = File::readFromFileToDataWithURL(statePath());
    if (!data) return;
    const auto state = nlohmann::json::parse(data->begin(), data->end(), nullptr, false);
    if (!state.is_object()) return;
    currentVersion_ = textMember(state, "version");
    currentETag_ = textMember(state, "etag");
}

// With the last check's time and what came of it, for a diagnosis to read.
void CertManager::saveState() {
    nlohmann::json state = nlohmann::json::object();
    if (currentVersion_) state["version"] = *currentVersion_;
    if (currentETag_) state["etag"] = *currentETag_;
    if (lastCheck_) state["lastCheck"] = utcText(*lastCheck_);
    state["lastResult"] = outcome_;
    const std::string text = toJSONText(state);
    std::error_code ignored;
    fs::create_directories(settings_.certDir, ignored);
    File::writeToFileWithURL(statePath(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void CertManager::doCheckOnQueue() {
    if (checking_) return;
    checking_ = true;
    std::map<std::string, std::string> headers;
    if (currentETag_ && !currentETag_->empty()) headers["If-None-Match"] = *currentETag_;
    outcome_ = "the certificate is current";
    handleManifest(http_.get(settings_.manifestUrl, settings_.manifestTimeout, headers, &stopping_));
    lastCheck_ = settings_.now();
    saveState();
    checking_ = false;
}

void CertManager::handleManifest(const HttpResponse& response) {
    if (response.transportError) {
        note("manifest fetch error: " + *response.transportError);
        return;
    }
    if (response.status == 304) return;
    if (response.status != 200 || response.body.empty()) {
        note("manifest HTTP " + std::to_string(response.status));
        return;
    }
    auto parsed = CertManifest::parse(response.body);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        note(*problem);
        return;
    }
    CertManifest& manifest = std::get<CertManifest>(parsed);
    manifest.etag = response.headerValue("ETag").value_or("");
    const std::optional<std::string> etag =
        manifest.etag.empty() ? std::nullopt : std::optional(manifest.etag);
    if (currentVersion_ && manifest.version == *currentVersion_) {
        currentETag_ = etag;
        return;
    }
    note("version mới " + manifest.version + " → tải PFX");
    downloadPfxFrom(manifest);
}

void CertManager::downloadPfxFrom(const CertManifest& manifest) {
    if (!manifest.url.starts_with("https://") && !manifest.url.starts_with("http://")) {
        note("PFX URL is not http(s): ignored");
        return;
    }
    const HttpResponse response = http_.get(manifest.url, settings_.pfxTimeout, {}, &stopping_);
    if (response.transportError || response.status != 200 || response.body.empty()) {
        note("tải PFX fail (HTTP " + std::to_string(response.status) +
            ", err=" + response.transportError.value_or("(null)") + ")");
        return;
    }
    const std::vector<std::uint8_t> body(response.body.begin(), response.body.end());
    if (!manifest.sha256.empty() && !matchesSha256(body, manifest.sha256)) {
        note("PFX SHA-256 KHÔNG khớp → bỏ");
        return;
    }
    const auto identity = importPfx(body);
    if (!identity) {
        note("PFX import FAIL (định dạng/password) → bỏ");
        return;
    }
    if (const auto notAfter = identity->notAfter(); notAfter && *notAfter < settings_.now()) {
        note("CẢNH BÁO: PFX mới ĐÃ hết hạn");
    }
    const auto current = effectiveCurrentCertFingerprint();
    const bool same = current && equalIgnoringCase(identity->fingerprint(), *current);
    if (!installPfx(body)) return;

    currentVersion_ = manifest.version;
    currentETag_ = manifest.etag.empty() ? std::nullopt : std::optional(manifest.etag);
    saveState();
    if (same) {
        note("version " + manifest.version + ": cert TRÙNG cert đang phục vụ → chỉ lưu, KHÔNG swap");
        return;
    }
    note("version " + manifest.version + ": cert KHÁC → áp + báo SocketService rebuild");
    postDidUpdate();
}

bool CertManager::installPfx(const std::vector<std::uint8_t>& body) {
    std::error_code error;
    fs::create_directories(settings_.certDir, error);
    const fs::path temporary = settings_.certDir / ("dl-" + makeRandomUuid() + ".tmp");
    if (!File::writeToFileWithURL(temporary, body)) {
        note("ghi tmp fail");
        return false;
    }
    fs::rename(temporary, pfxPath(), error);  // replaces current.pfx in one step
    if (error) {
        note("đặt PFX fail: " + error.message());
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

std::optional<std::string> CertManager::effectiveCurrentCertFingerprint() const {
    if (auto installed = fingerprintOfFile(pfxPath())) return installed;
    return fingerprintOfFile(settings_.bundledPfx);
}

void CertManager::postDidUpdate() {
    boost::asio::post(settings_.mainExecutor, [notification = std::weak_ptr<Notification>(didUpdate_)] {
        if (auto didUpdate = notification.lock()) didUpdate->post();
    });
}

}  // namespace kv

#pragma once

#include "base/DateText.h"
#include "base/Notification.h"
#include "base/SharedObject.h"
#include "platform/dispatch/RepeatingTimer.h"
#include "platform/dispatch/OnDemandQueue.h"
#include "platform/http/HttpClient.h"

#include <boost/asio/any_io_executor.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct CertManifest;

// Keeps the TLS certificate current: polls the manifest at start and hourly, downloads a new
// PKCS#12 file when the manifest names a new version, installs it as current.pfx once its digest
// and password check out, and announces a certificate that differs from the one being served.
// All its work runs on its own serial queue.
class CertManager {
public:
    static constexpr const char* kPfxPassword = "Tq4&Rbn9wLx2";

    struct Settings {
        std::string manifestUrl;
        std::filesystem::path certDir;
        std::filesystem::path bundledPfx;  // lumen.pfx
        std::optional<std::string> caFile;
        std::chrono::milliseconds manifestTimeout{20'000};
        std::chrono::milliseconds pfxTimeout{60'000};
        std::function<Date()> now = [] { return std::chrono::system_clock::now(); };
        boost::asio::any_io_executor mainExecutor;

        // The build's manifest URL unless KVPLUGIN_CERT_MANIFEST_URL names another, the CA file of
        // KVPLUGIN_CA_FILE, the certificate folder and the shipped lumen.pfx.
        static Settings standard(boost::asio::any_io_executor mainExecutor);
    };

    static CertManager& shared() { return Shared<CertManager>::get(); }

    // Its downloads go through the transfers.
    CertManager(Settings settings, HttpTransfers& transfers);
    ~CertManager();
    // Gives up a download in progress and ends the work queue's thread.
    void stop();
    CertManager(const CertManager&) = delete;
    CertManager& operator=(const CertManager&) = delete;

    // Effective once: the first check, then hourly checks at a random phase.
    void start();
    // A check now, at most once every 30 seconds.
    void triggerImmediateCheck();
    void checkManifest();
    // current.pfx when it is there and imports; else nothing.
    std::optional<std::filesystem::path> activePfxPath() const;
    const std::filesystem::path& bundledPfxPath() const { return settings_.bundledPfx; }
    // KVCertDidUpdateNotification: posted on the main thread after a new, different certificate
    // was installed.
    Notification& didUpdateNotification() { return *didUpdate_; }
    // Ready once everything queued before this call has run.
    std::future<void> whenIdle();

private:
    std::filesystem::path pfxPath() const { return settings_.certDir / "current.pfx"; }
    std::filesystem::path statePath() const { return settings_.certDir / "cert-state.json"; }
    void removeInterruptedWrites();
    void loadState();
    void saveState();
    // Logs what a check came to and keeps it as the check's result.
    void note(const std::string& text);
    void doCheckOnQueue();
    void handleManifest(const HttpResponse& response);
    void downloadPfxFrom(const CertManifest& manifest);
    bool installPfx(const std::vector<std::uint8_t>& body);
    std::optional<std::string> effectiveCurrentCertFingerprint() const;
    void postDidUpdate();

    Settings settings_;
    HttpClient http_;
    std::shared_ptr<Notification> didUpdate_ = std::make_shared<Notification>();
    std::shared_ptr<RepeatingTimer> pollTimer_;
    std::atomic<bool> started_{false};
    std::atomic<bool> stopping_{false};
    // Owned by the work queue's thread.
    bool checking_ = false;
    std::optional<std::string> currentVersion_;
    std::optional<std::string> currentETag_;
    std::optional<Date> lastCheck_;
    std::string outcome_;
    std::optional<Date> lastImmediateCheck_;
    // Last, so that it stops (and joins) before the state its work uses goes away.
    OnDemandQueue workQ_{"CertManager"};
};

}  // namespace kv

#include "core/CertManager.h"
#include "platform/crypto/Sha256.h"
#include "store/File.h"

#include "support/HttpsTestServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <future>
#include <thread>

namespace kv {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    return File::readFromFileToDataWithURL(path).value_or(std::vector<std::uint8_t>{});
}

// A manager against the test's HTTPS server, its main loop on a thread of the test.
class CertManagerTest : public ::testing::Test {
protected:
    SharedObject<HttpTransfers> transfers_;
    CertManagerTest() {
        mainLoop_ = std::thread([this] { main_.run(); });
        lumenPfx_ = test::makeCertificate(keys_.path(), "lumen").exportPfx(keys_.path() / "lumen.pfx", CertManager::kPfxPassword);
        newCertificate_ = test::makeCertificate(keys_.path(), "new");
        newPfx_ = newCertificate_.exportPfx(keys_.path() / "new.pfx", CertManager::kPfxPassword);
        server_.copy(newPfx_, "new.pfx");
        manager_ = std::make_unique<CertManager>(settings(), *transfers_);
        subscription_ = manager_->didUpdateNotification().subscribe([this] { ++notifications_; });
    }

    ~CertManagerTest() override {
        manager_.reset();
        keepAlive_.reset();
        main_.stop();
        mainLoop_.join();
    }

    CertManager::Settings settings() {
        CertManager::Settings settings;
        settings.manifestUrl = server_.manifestUrl();
        settings.caFile = server_.certificate().certificatePem.string();
        settings.certDir = certFolder_.path() / "Keyvora" / "cert";
        settings.bundledPfx = lumenPfx_;
        settings.manifestTimeout = 1s;
        settings.pfxTimeout = 1s;
        settings.now = [this] { return Date(Date::duration(clock_.load())); };
        settings.mainExecutor = main_.get_executor();
        return settings;
    }

    void serveManifest(const std::string& version, const std::string& file, const std::string& digest,
                       const std::string& etag) {
        server_.put("manifest.json",
                    json({{"version", version}, {"url", server_.url("/files/" + file)}, {"sha256", digest}}).dump());
        server_.put("manifest.etag", etag);
    }

    // Waits for the checks queued so far and for the notifications they posted.
    void settle() {
        manager_->whenIdle().wait();
        std::promise<void> drained;
        boost::asio::post(main_, [&] { drained.set_value(); });
        drained.get_future().wait();
    }
    void check() {
        manager_->checkManifest();
        settle();
    }

    // The first install: version 2 of new.pfx under the ETag "e1".
    void installVersionTwo() {
        serveManifest("2", "new.pfx", sha256Hex(bytesOf(newPfx_)), "\"e1\"");
        manager_->start();
        settle();
        ASSERT_EQ(bytesOf(installed()), bytesOf(newPfx_));
    }

    fs::path installed() const { return certFolder_.path() / "Keyvora" / "cert" / "current.pfx"; }
    json state() const {
        const auto data = bytesOf(certFolder_.path() / "Keyvora" / "cert" / "cert-state.json");
        return json::parse(data.begin(), data.end(), nullptr, false);
    }
    // The installed version and its ETag, without the last check's time and result.
    json version() const {
        json kept = state();
        kept.erase("lastCheck");
        kept.erase("lastResult");
        return kept;
    }
    std::size_t requestsFor(const std::string& prefix) const {
        const auto requests = server_.requests();
        return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [&](const auto& line) { return line.starts_with(prefix); }));
    }

    boost::asio::io_context main_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_{main_.get_executor()};
    std::thread mainLoop_;
    test::HttpsTestServer server_;
    test::TempDirectory keys_;
    test::TempDirectory certFolder_;
    fs::path lumenPfx_;
    test::TestCertificate newCertificate_;
    fs::path newPfx_;
    std::atomic<Date::rep> clock_{Date(std::chrono::hours(24 * 365 * 56)).time_since_epoch().count()};
    std::atomic<int> notifications_{0};
    std::unique_ptr<CertManager> manager_;
    Notification::Subscription subscription_;
};

// The older format (RC2 and 3DES) that many certificate tools still write, under a digest in
// upper case with blanks around it.
TEST_F(CertManagerTest, AFirstStartDownloadsInstallsAndAnnounces) {
    EXPECT_FALSE(manager_->activePfxPath());
    const auto legacyPfx = newCertificate_.exportPfx(keys_.path() / "legacy.pfx", CertManager::kPfxPassword, true);
    server_.copy(legacyPfx, "legacy.pfx");
    std::string digest = sha256Hex(bytesOf(legacyPfx));
    std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return std::toupper(c); });
    serveManifest("2", "legacy.pfx", "  " + digest + "\r\n", "\"e1\"");
    manager_->start();
    settle();
    EXPECT_EQ(bytesOf(installed()), bytesOf(legacyPfx));
    EXPECT_EQ(version(), json({{"version", "2"}, {"etag", "\"e1\""}}));
    EXPECT_EQ(state()["lastCheck"], utcText(Date(Date::duration(clock_.load()))));
    EXPECT_EQ(notifications_, 1);
    EXPECT_EQ(manager_->activePfxPath(), installed());
    EXPECT_EQ(std::distance(fs::directory_iterator(installed().parent_path()), {}), 2) << "nothing left behind";
}

// An unchanged manifest (also after a restart) downloads nothing; a new ETag only updates the
// state; a new version of the certificate being served is stored without a rotation.
TEST_F(CertManagerTest, LaterChecksDownloadOnlyANewVersionAndAnnounceOnlyANewCertificate) {
    installVersionTwo();
    check();
    EXPECT_EQ(server_.requests().back(), "/kv-cert/130717/manifest.json \"e1\"");
    subscription_ = {};
    manager_ = std::make_unique<CertManager>(settings(), *transfers_);
    subscription_ = manager_->didUpdateNotification().subscribe([this] { ++notifications_; });
    manager_->start();
    settle();
    EXPECT_EQ(server_.requests().back(), "/kv-cert/130717/manifest.json \"e1\"");
    server_.put("manifest.etag", "\"e2\"");
    check();
    EXPECT_EQ(version(), json({{"version", "2"}, {"etag", "\"e2\""}}));
    EXPECT_EQ(requestsFor("/files/"), 1u);

    const auto again = newCertificate_.exportPfx(keys_.path() / "again.pfx", CertManager::kPfxPassword);
    ASSERT_NE(bytesOf(again), bytesOf(newPfx_));
    server_.copy(again, "again.pfx");
    serveManifest("3", "again.pfx", sha256Hex(bytesOf(again)), "\"e3\"");
    check();
    EXPECT_EQ(bytesOf(installed()), bytesOf(again));
    EXPECT_EQ(state()["version"], "3");
    EXPECT_EQ(notifications_, 1);
}

TEST_F(CertManagerTest, ABrokenDownloadNeverReplacesTheWorkingCertificate) {
    installVersionTwo();
    const json stateBefore = state();
    const json versionBefore = version();
    const auto other = test::makeCertificate(keys_.path(), "other");
    server_.copy(other.exportPfx(keys_.path() / "other.pfx", CertManager::kPfxPassword), "other.pfx");
    server_.copy(other.exportPfx(keys_.path() / "wrong.pfx", "not the password"), "wrong.pfx");
    const auto full = bytesOf(keys_.path() / "other.pfx");
    server_.put("truncated.pfx", std::string(full.begin(), full.begin() + static_cast<long>(full.size() / 2)));
    const std::string otherDigest = sha256Hex(bytesOf(keys_.path() / "other.pfx"));
    // What a redirect to the local disk would find: a good certificate and a manifest naming it.
    const std::string localPfx = "file://" + (keys_.path() / "other.pfx").string();
    const fs::path localManifest = keys_.path() / "manifest.json";
    std::ofstream(localManifest) << json({{"version", "3"}, {"url", localPfx}, {"sha256", otherDigest}}).dump();
    const std::string tenGigabytes = std::to_string(std::int64_t{10} << 30);

    struct Case {
        const char* name;
        std::function<void()> serve;
    };
    const std::vector<Case> cases = {
        {"wrong digest", [&] { serveManifest("3", "other.pfx", std::string(64, 'a'), "\"x1\""); }},
        {"wrong password", [&] { serveManifest("3", "wrong.pfx", "", "\"x2\""); }},
        {"truncated file", [&] { serveManifest("3", "truncated.pfx", "", "\"x3\""); }},
        {"file HTTP 500", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x4\""); server_.put("other.pfx.status", "500"); }},
        {"file timeout", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x5\""); server_.put("other.pfx.delay", "3"); }},
        {"manifest HTTP 500", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x6\""); server_.put("manifest.json.status", "500"); }},
        {"manifest timeout", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x7\""); server_.put("manifest.json.delay", "3"); }},
        {"manifest not JSON", [&] { server_.put("manifest.json", "<html>"); server_.put("manifest.etag", "\"x8\""); }},
        {"manifest without url", [&] { server_.put("manifest.json", R"({"version":"3"})"); }},
        {"file reset", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x9\""); server_.put("other.pfx.reset", "1"); }},
        {"file stalls", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x10\""); server_.put("other.pfx.stall", "1"); }},
        {"file of 10 GB", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x11\""); server_.put("other.pfx.huge", tenGigabytes); }},
        {"file redirected to the disk", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x12\""); server_.put("other.pfx.location", localPfx); }},
        {"file named on the disk", [&] { server_.put("manifest.json", json({{"version", "3"}, {"url", localPfx}}).dump()); }},
        {"manifest reset", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x13\""); server_.put("manifest.json.reset", "1"); }},
        {"manifest stalls", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x14\""); server_.put("manifest.json.stall", "1"); }},
        {"manifest of 10 GB", [&] { serveManifest("3", "other.pfx", otherDigest, "\"x15\""); server_.put("manifest.json.huge", tenGigabytes); }},
        {"manifest redirected to the disk",
         [&] { serveManifest("3", "other.pfx", otherDigest, "\"x16\""); server_.put("manifest.json.location", "file://" + localManifest.string()); }},
    };
    for (const auto& failure : cases) {
        for (const std::string file : {"other.pfx", "manifest.json"}) {
            for (const char* misbehaviour : {".status", ".delay", ".reset", ".stall", ".huge", ".location"}) server_.put(file + misbehaviour, "");
        }
        failure.serve();
        check();
        EXPECT_EQ(bytesOf(installed()), bytesOf(newPfx_)) << failure.name;
        EXPECT_EQ(version(), versionBefore) << failure.name;
        EXPECT_NE(state()["lastResult"], stateBefore["lastResult"]) << failure.name << ": the failure is kept for a diagnosis";
        EXPECT_EQ(notifications_, 1) << failure.name;
    }
    EXPECT_EQ(manager_->activePfxPath(), installed());
}

TEST_F(CertManagerTest, ImmediateChecksComeThirtySecondsApartAtMost) {
    serveManifest("2", "new.pfx", sha256Hex(bytesOf(newPfx_)), "\"e1\"");
    manager_->triggerImmediateCheck();
    settle();
    clock_ += std::chrono::duration_cast<Date::duration>(10s).count();
    manager_->triggerImmediateCheck();
    settle();
    EXPECT_EQ(requestsFor("/kv-cert/"), 1u);
    clock_ += std::chrono::duration_cast<Date::duration>(21s).count();
    manager_->triggerImmediateCheck();
    settle();
    EXPECT_EQ(requestsFor("/kv-cert/"), 2u);
}

}  // namespace
}  // namespace kv

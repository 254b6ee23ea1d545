#include "base/SharedObject.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/http/HttpTransfers.h"
#include "stems/StemCache.h"
#include "stems/StemFiles.h"
#include "stems/StemsDownloader.h"
#include "store/File.h"
#include "support/HttpsTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

namespace kv {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

struct Outcome {
    std::vector<std::optional<std::string>> paths;
    std::optional<StemsDownloader::Error> error;
};

json stem(std::int64_t instrument, std::int64_t tempo, const std::string& link, const std::string& version, std::int64_t index) {
    return {{"instrument_id", instrument}, {"tempo", tempo},   {"link", link},
            {"last_modified", version},    {"index", index},   {"instrument_name", "Part " + std::to_string(instrument)}};
}

std::string mp3Body(std::size_t size) {
    std::string body = "ID3";
    body.resize(size, '\0');
    return body;
}

class StemsDownloaderTest : public testing::Test {
protected:
    Outcome download(const json& list, const std::string& songId, StemsDownloader::Limits limits = {}) {
        auto done = std::make_shared<std::promise<Outcome>>();
        auto outcome = done->get_future();
        StemsDownloader::downloadWithJSON(
            services(), list, songId, {}, [done](auto paths, auto error) { done->set_value({std::move(paths), std::move(error)}); }, limits);
        if (outcome.wait_for(60s) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return {};
        }
        return outcome.get();
    }
    StemsDownloader::Services services() { return {*transfers_, main_->executor(), {}}; }
    fs::path folder(const std::string& songId) const { return stem_files::songFolder(File::getRootPath(), songId); }
    std::string url(const std::string& name) const { return server_.url("/files/" + name); }
    std::vector<std::string> names(const std::string& songId) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder(songId))) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    test::HttpsTestServer server_{test::HttpsTestServer::Scheme::http};
    // The queues the transfers deliver to outlive the transfers' thread.
    SharedObject<MainQueue> main_;
    SharedObject<HttpTransfers> transfers_;
};

TEST_F(StemsDownloaderTest, EachStemIsCheckedBySizeAndHeaderAndCurrentFilesAreNotFetchedAgain) {
    server_.put("id3.mp3", mp3Body(4096));
    server_.put("short.mp3", mp3Body(4095));
    server_.put("sync.mp3", "\xFF\xFB" + std::string(4094, '\x10'));
    server_.put("text.mp3", std::string(5000, 'x'));
    const json list = {stem(4, 96, url("text.mp3"), "v", 3), stem(2, 96, url("short.mp3"), "v", 1),
                       stem(1, 96, url("id3.mp3"), "v", 0), stem(3, 96, url("sync.mp3"), "v", 2),
                       stem(0, 96, url("id3.mp3"), "v", 4), {{"not", "a stem"}}};
    const Outcome first = download(list, "sizes");
    ASSERT_EQ(first.paths.size(), 4U) << "the invalid entries are left out";
    const fs::path one = folder("sizes") / stem_files::fileName(1, 96, "v");
    EXPECT_EQ(first.paths[0], one.string());
    EXPECT_FALSE(first.paths[1]);
    EXPECT_EQ(first.paths[2], (folder("sizes") / stem_files::fileName(3, 96, "v")).string());
    EXPECT_FALSE(first.paths[3]);
    ASSERT_TRUE(first.error);
    EXPECT_EQ(first.error->domain, "StemsDownloader");
    EXPECT_EQ(first.error->code, -3) << "the first failed stem in index order: too small";
    EXPECT_EQ(names("sizes"), (std::vector<std::string>{stem_files::fileName(1, 96, "v"), stem_files::fileName(3, 96, "v")}))
        << "no temporary or refused file stays";

    const auto requests = server_.requests().size();
    const Outcome again = download(json{list[2], list[3]}, "sizes");
    EXPECT_EQ(server_.requests().size(), requests);
    EXPECT_EQ(again.paths.size(), 2U);
    EXPECT_FALSE(again.error);

    std::ofstream(one, std::ios::binary | std::ios::trunc) << std::string(5000, 'x');  // damaged since
    download(json{list[2]}, "sizes");
    EXPECT_EQ(server_.requests().size(), requests + 1) << "a damaged file is fetched again";
}

TEST_F(StemsDownloaderTest, ATempoOnlyChangeRenamesTheFileAndANewVersionReplacesIt) {
    server_.put("a.mp3", mp3Body(8000));
    ASSERT_FALSE(download(json{stem(1, 96, url("a.mp3"), "v1", 0)}, "tempo").error);
    std::ofstream(folder("tempo") / "1_96_old.caf") << "x";
    std::ofstream(folder("tempo") / "2_96_other.caf") << "x";
    const auto requests = server_.requests().size();

    const Outcome renamed = download(json{stem(1, 100, url("a.mp3"), "v1", 0)}, "tempo");
    EXPECT_EQ(server_.requests().size(), requests);
    EXPECT_EQ(renamed.paths.at(0), (folder("tempo") / stem_files::fileName(1, 100, "v1")).string());
    EXPECT_EQ(names("tempo"), (std::vector<std::string>{stem_files::fileName(1, 100, "v1"), "2_96_other.caf"}));

    // The old version goes before the new one is fetched: a failed fetch leaves neither.
    const Outcome failed = download(json{stem(1, 100, url("missing.mp3"), "v2", 0)}, "tempo");
    EXPECT_TRUE(failed.error);
    EXPECT_EQ(names("tempo"), std::vector<std::string>{"2_96_other.caf"});
    EXPECT_FALSE(download(json{stem(1, 100, url("a.mp3"), "v2", 0)}, "tempo").error);
    EXPECT_EQ(names("tempo"), (std::vector<std::string>{stem_files::fileName(1, 100, "v2"), "2_96_other.caf"}));
}

TEST_F(StemsDownloaderTest, AFailingStemFailsAloneWhateverTheServerDid) {
    server_.put("good.mp3", mp3Body(6000));
    server_.put("reset.mp3", mp3Body(6000));
    server_.put("reset.mp3.reset", "1");
    server_.put("local.mp3.location", "file:///etc/passwd");
    server_.put("away.mp3.location", "/files/good.mp3");
    for (const std::string middle : {"missing.mp3", "reset.mp3", "local.mp3"}) {
        const Outcome outcome =
            download(json{stem(1, 90, url("good.mp3"), "v", 0), stem(2, 90, url(middle), "v", 1), stem(3, 90, url("good.mp3"), "v", 2)},
                     "fail-" + middle);
        ASSERT_EQ(outcome.paths.size(), 3U) << middle;
        EXPECT_TRUE(outcome.paths[0] && outcome.paths[2]) << middle;
        EXPECT_FALSE(outcome.paths[1]) << middle;
        EXPECT_TRUE(outcome.error) << middle;
    }
    EXPECT_FALSE(download(json{stem(1, 90, url("away.mp3"), "v", 0)}, "redirected").error) << "http redirects are followed";
}

TEST_F(StemsDownloaderTest, AStalledOrTenGigabyteBodyFailsItsStemAndACancelDeliversNothing) {
    server_.put("good.mp3", mp3Body(6000));
    server_.put("stall.mp3.stall", "1");
    server_.put("huge.mp3.huge", std::to_string(std::int64_t{10} << 30));
    const auto began = std::chrono::steady_clock::now();
    const Outcome stalled = download(json{stem(1, 90, url("stall.mp3"), "v", 0), stem(2, 90, url("good.mp3"), "v", 1)}, "stall",
                                     {.stalledAfter = 2s, .maxTime = 60s});
    EXPECT_LT(std::chrono::steady_clock::now() - began, 30s);
    EXPECT_FALSE(stalled.paths.at(0));
    EXPECT_TRUE(stalled.paths.at(1));

    const Outcome huge = download(json{stem(1, 90, url("huge.mp3"), "v", 0)}, "huge");
    ASSERT_TRUE(huge.error);
    EXPECT_TRUE(names("huge").empty()) << "nothing of the body stays";

    std::atomic<int> delivered{0};
    auto job = StemsDownloader::downloadWithJSON(services(), json{stem(1, 90, url("stall.mp3"), "v", 0)}, "cancel", {},
                                                 [&delivered](auto, auto) { ++delivered; }, {.stalledAfter = 1s, .maxTime = 60s});
    job->cancel();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(delivered, 0);
    EXPECT_FALSE(job->isDownloading());
}

// Five stems on one server, three connections at a time, the first three sent slowly: the two
// that wait their turn longer than the stall limit are not stalled, their wait is no silence.
TEST_F(StemsDownloaderTest, AStemWaitingForAConnectionIsNotStalled) {
    server_.put("slow.mp3", mp3Body(6000));
    server_.put("slow.mp3.trickle", "2.5");
    server_.put("fast.mp3", mp3Body(6000));
    json list = json::array();
    for (int i = 0; i < 5; ++i) list.push_back(stem(i + 1, 90, url(i < 3 ? "slow.mp3" : "fast.mp3"), "v", i));
    const Outcome outcome = download(list, "queued", {.stalledAfter = 1s, .maxTime = 60s});
    EXPECT_FALSE(outcome.error);
    for (const auto& path : outcome.paths) EXPECT_TRUE(path);
}

// A song's stems stay within the song's bound, whatever the server announces or sends; the
// least recently used songs leave the cache for a new one, the cache's own files stay.
TEST_F(StemsDownloaderTest, ASongAndTheCacheStayWithinTheirBounds) {
    server_.put("a.mp3", mp3Body(6000));
    server_.put("b.mp3", mp3Body(6000));
    const StemsDownloader::Limits limits{.stalledAfter = 30s, .maxTime = 60s, .maxSongBytes = 10'000, .maxCacheBytes = 18'000};
    const Outcome over = download(json{stem(1, 90, url("a.mp3"), "v", 0), stem(2, 90, url("b.mp3"), "v", 1)}, "over", limits);
    ASSERT_TRUE(over.error);
    EXPECT_EQ(over.error->code, -5);
    EXPECT_LE(stem_cache::folderBytes(folder("over")), 10'000);

    fs::remove_all(folder("over"));
    fs::create_directories(folder("over"));
    std::ofstream(folder("over") / "1_90_kept.mp3") << std::string(4000, 'x');
    for (const auto& [song, age] : {std::pair{"oldest", 3h}, std::pair{"older", 2h}}) {
        ASSERT_FALSE(download(json{stem(1, 90, url("a.mp3"), "v", 0)}, song).error);
        fs::last_write_time(folder(song), fs::file_time_type::clock::now() - age);
    }
    std::ofstream(folder("over").parent_path() / "cached.bin") << std::string(20'000, 'x');
    fs::last_write_time(folder("over"), fs::file_time_type::clock::now() - 1h);
    ASSERT_FALSE(download(json{stem(1, 90, url("a.mp3"), "v", 0)}, "new", limits).error);
    EXPECT_FALSE(fs::exists(folder("oldest")));
    EXPECT_FALSE(fs::exists(folder("older"))) << "the others still held more than the cache less one song";
    EXPECT_TRUE(fs::exists(folder("over")));
    EXPECT_TRUE(fs::exists(folder("over").parent_path() / "cached.bin"));
    EXPECT_TRUE(fs::exists(folder("new")));
}

// No usable stem completes with an error; thousands of entries are read as the first few.
TEST_F(StemsDownloaderTest, ARequestWithoutUsableStemsCompletesWithAnError) {
    EXPECT_TRUE(download(json::array(), "nothing").error);
    EXPECT_TRUE(download(json{stem(0, 90, "ftp://x", "v", 0), stem(1, 0, "http://x", "v", 1)}, "nothing").error);
    EXPECT_TRUE(download(json{stem(1, 90, "http://x", "v", 0)}, "").error);
    json many = json::array();
    for (int i = 0; i < 5000; ++i) many.push_back(stem(i + 1, 90, "http://127.0.0.1:1/x.mp3", "v", i));
    EXPECT_EQ(download(many, "many").paths.size(), StemList::kMaxStems);
    EXPECT_TRUE(StemList::parse(json(std::vector<int>(100'000, 1))).entries.empty());
}

}  // namespace
}  // namespace kv

#pragma once

#include "platform/http/HttpTransfers.h"
#include "stems/StemList.h"

#include <boost/asio/any_io_executor.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// Makes sure every backing track of a song is in its cache folder, current and plausible as MP3:
// downloads what is missing or outdated (three at a time per host), renames a file whose only
// change is its tempo label, and reports one local path per stem. The folder is the only record.
class StemsDownloader : public std::enable_shared_from_this<StemsDownloader> {
public:
    static constexpr std::int64_t kMinBytes = 4096;
    // A link could serve anything: a larger body is refused as a failed stem.
    static constexpr std::int64_t kMaxBytes = std::int64_t{512} * 1024 * 1024;

    struct Error {
        std::string domain;
        int code = 0;
        std::string description;
    };
    // On the main queue, as bytes arrive: (instrument name, index, fraction 0 … 1).
    using Progress = std::function<void(const std::string& instrument, std::int64_t index, double fraction)>;
    // Once, on the main queue (but a start-up failure, on the caller's thread before the start
    // returns): a path or nothing per valid stem in index order, and the first failed stem's
    // error.
    using Completion = std::function<void(std::vector<std::optional<std::string>> paths, std::optional<Error> error)>;
    // A song's stems together, and the stems of every song in the cache, least recently used
    // songs going first: a page could list 64 stems of many songs.
    struct Limits {
        std::chrono::seconds stalledAfter{30};
        std::chrono::milliseconds maxTime{300'000};
        std::int64_t maxSongBytes = std::int64_t{1} << 30;
        std::int64_t maxCacheBytes = std::int64_t{4} << 30;
    };

    // What a download uses: the transfers, the queue its reports go to, and who must know of a
    // song's files that changed (before the completion).
    struct Services {
        HttpTransfers& transfers;
        boost::asio::any_io_executor mainQueue;
        std::function<void(const std::string& songId)> filesChanged;
    };

    static std::shared_ptr<StemsDownloader> downloadWithJSON(Services services, const nlohmann::json& list,
                                                             const std::string& songId, Progress onProgress,
                                                             Completion onComplete, Limits limits);
    static std::shared_ptr<StemsDownloader> downloadWithJSON(Services services, const nlohmann::json& list,
                                                             const std::string& songId, Progress onProgress,
                                                             Completion onComplete);
    // No progress and no completion after it.
    void cancel();
    bool isDownloading() const;
    // The recorded tempo of a stem file's name; 0 when it has none.
    static double tempoFromPath(const std::filesystem::path& file);

    StemsDownloader(Services services, Progress onProgress, Completion onComplete, Limits limits)
        : services_(std::move(services)),
          onProgress_(std::move(onProgress)),
          onComplete_(std::move(onComplete)),
          limits_(limits) {}

private:
    struct Item : StemEntry {
        bool skipped = false;
        std::filesystem::path localPath;
        std::optional<Error> error;
    };

    std::optional<std::string> start(const nlohmann::json& list, const std::string& songId);
    bool presentAndValid(const Item& item) const;
    bool reuse(const Item& item);
    void removeOldVersions(const Item& item) const;
    void startTransfer(std::size_t item);
    void count(std::size_t item, std::int64_t bytes);
    void transferEnded(std::size_t item, HttpResponse response, const std::filesystem::path& temporary);
    void finishItem();
    void complete();
    void tellThePlayer();  // under mutex_
    bool isCancelled() const {
        const std::lock_guard lock(mutex_);
        return cancelled_;
    }

    Services services_;
    Progress onProgress_;
    Completion onComplete_;
    Limits limits_;
    std::string songId_;
    std::filesystem::path folder_;
    std::vector<Item> items_;  // in index order; each item written by its own transfer's end only
    std::int64_t presentBytes_ = 0;            // of the stems already in place
    std::atomic<bool> overBudget_{false};      // every transfer of the job ends soon after it turns true

    mutable std::mutex mutex_;
    bool cancelled_ = false;
    bool isDownloading_ = false;
    std::int64_t pendingCount_ = 0;
    std::int64_t downloadedCount_ = 0;
    std::map<std::size_t, HttpTransfers::Id> transfers_;  // item → its transfer
    std::map<std::size_t, std::int64_t> received_;        // item → bytes received so far
};

}  // namespace kv

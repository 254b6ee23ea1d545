#include "stems/StemsDownloader.h"

#include "base/Console.h"
#include "base/TextFormat.h"
#include "stems/StemCache.h"
#include "stems/StemFiles.h"
#include "stems/StemList.h"
#include "store/File.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cctype>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDomain = "StemsDownloader";

void log(const std::string& text) {
    consoleLine("[StemsDownloader] " + text);
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::int64_t fileSize(const fs::path& file) {
    std::error_code error;
    const auto size = fs::file_size(file, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

void removeQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

// The folder, made when missing; nothing when it cannot be used.
std::optional<fs::path> usableFolder(const fs::path& folder) {
    std::error_code error;
    if (!fs::exists(folder, error)) {
        if (fs::create_directories(folder, error)) {
            log("Created folder: " + folder.string());
        } else {
            log("Cannot create folder " + folder.string() + ": " + error.message());
        }
    } else if (!fs::is_directory(folder, error)) {
        log("Path exists but is a file, not a folder: " + folder.string());
    }
    if (!fs::is_directory(folder, error)) return std::nullopt;
    log("Folder: " + folder.string());
    return folder;
}

}  // namespace

std::shared_ptr<StemsDownloader> StemsDownloader::downloadWithJSON(Services services, const nlohmann::json& list,
                                                                   const std::string& songId, Progress onProgress,
                                                                   Completion onComplete, Limits limits) {
    auto job = std::make_shared<StemsDownloader>(std::move(services), std::move(onProgress), std::move(onComplete), limits);
    if (const auto failure = job->start(list, songId)) {
        log(*failure);
        if (job->onComplete_) job->onComplete_({}, Error{kDomain, -1, *failure});
    }
    return job;
}

std::shared_ptr<StemsDownloader> StemsDownloader::downloadWithJSON(Services services, const nlohmann::json& list,
                                                                   const std::string& songId, Progress onProgress,
                                                                   Completion onComplete) {
    return downloadWithJSON(std::move(services), list, songId, std::move(onProgress), std::move(onComplete), Limits{});
}

double StemsDownloader::tempoFromPath(const fs::path& file) {
    if (file.empty()) return 0;
    const auto parts = stem_files::fields(file);
    double tempo = 0;
    if (parts.size() >= 2) {
        try {
            tempo = std::stod(parts[1]);
        } catch (const std::exception&) {
            tempo = 0;
        }
    }
    if (tempo > 0) return tempo;
    log("Cannot parse tempo from path: " + file.filename().string());
    return 0;
}

bool StemsDownloader::isDownloading() const {
    const std::lock_guard lock(mutex_);
    return isDownloading_;
}

std::optional<std::string> StemsDownloader::start(const nlohmann::json& list, const std::string& songId) {
    songId_ = songId;
    if (songId.empty()) return "songId is empty";
    if (!list.is_array() || list.empty()) return "jsonArray is empty";
    const fs::path root = File::getRootPath();
    if (root.empty()) return "[File getRootPath] returned nil/empty";
    StemList parsed = StemList::parse(list);
    if (!parsed.warnings.empty()) {
        std::string joined;
        for (const auto& warning : parsed.warnings) joined += (joined.empty() ? "" : "; ") + warning;
        log("Parse warnings: " + joined);
    }
    items_.clear();
    for (StemEntry& entry : parsed.entries) items_.push_back(Item{std::move(entry), false, {}, std::nullopt});
    if (items_.empty()) return "No valid items after parsing";
    std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) { return a.index < b.index; });
    const auto folder = usableFolder(stem_files::songFolder(root, songId));
    if (!folder) return "Cannot create/access folder: " + stem_files::songFolder(root, songId).string();
    folder_ = *folder;
    stem_cache::markUsed(folder_);
    stem_cache::evictFor(folder_, limits_.maxCacheBytes - limits_.maxSongBytes);

    std::vector<std::size_t> toDownload;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        Item& item = items_[i];
        item.localPath = folder_ / stem_files::fileName(item.instrumentId, item.tempo, item.lastModified);
        if (presentAndValid(item)) {
            item.skipped = true;
            log("Skip: " + item.instrumentName + " (" + item.localPath.filename().string() + ")");
        } else if (reuse(item)) {
            item.skipped = true;
            log("Reused (tempo changed, same audio): " + item.localPath.filename().string());
        } else {
            toDownload.push_back(i);
        }
        if (item.skipped) presentBytes_ += fileSize(item.localPath);
    }
    if (toDownload.empty()) {
        log(formatText("All %lu files up-to-date", static_cast<unsigned long>(items_.size())));
        {
            const std::lock_guard lock(mutex_);
            tellThePlayer();
        }
        complete();
        return std::nullopt;
    }
    {
        const std::lock_guard lock(mutex_);
        pendingCount_ = static_cast<std::int64_t>(toDownload.size());
        isDownloading_ = true;
    }
    log(formatText("Need to download %ld/%lu files", static_cast<long>(toDownload.size()), static_cast<unsigned long>(items_.size())));
    for (const std::size_t i : toDownload) {
        removeOldVersions(items_[i]);
        if (!HttpTransfers::isWellFormedUrl(items_[i].link)) {
            items_[i].error = Error{kDomain, -2, "Cannot parse URL: " + items_[i].link};
            finishItem();
            continue;
        }
        log("Start: " + items_[i].instrumentName + " (" + items_[i].localPath.filename().string() + ")");
        startTransfer(i);
    }
    return std::nullopt;
}

// A file that is there but fails is removed, so that it is fetched again.
bool StemsDownloader::presentAndValid(const Item& item) const {
    std::error_code error;
    if (!fs::exists(item.localPath, error)) return false;
    const std::int64_t size = fileSize(item.localPath);
    if (size < kMinBytes) {
        log(formatText("File too small (%lld bytes), will re-download: %s", static_cast<long long>(size),
                       item.localPath.filename().c_str()));
        removeQuietly(item.localPath);
        return false;
    }
    if (!stem_files::hasMp3Header(item.localPath)) {
        log("Invalid MP3 header, will re-download: " + item.localPath.filename().string());
        removeQuietly(item.localPath);
        return false;
    }
    return true;
}

// The recording is the same when its version token is: only the tempo in its name is stale.
bool StemsDownloader::reuse(const Item& item) {
    const std::string instrument = std::to_string(item.instrumentId);
    const std::string suffix = "_" + stem_files::versionHash(item.lastModified);
    std::error_code error;
    std::optional<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        const fs::path& path = entry.path();
        const auto parts = stem_files::fields(path);
        if (lowerCase(path.extension().string()) == ".mp3" && parts.size() >= 3 && parts[0] == instrument &&
            path.stem().string().ends_with(suffix) && path.filename() != item.localPath.filename()) {
            found = path;
            break;
        }
    }
    if (!found) return false;
    removeQuietly(item.localPath);
    fs::rename(*found, item.localPath, error);
    if (error) return false;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        const fs::path& path = entry.path();
        if (lowerCase(path.extension().string()) == ".caf" && stem_files::fields(path)[0] == instrument) removeQuietly(path);
    }
    const std::lock_guard lock(mutex_);
    ++downloadedCount_;
    return true;
}

void StemsDownloader::removeOldVersions(const Item& item) const {
    const std::string instrument = std::to_string(item.instrumentId);
    std::error_code error;
    std::vector<fs::path> stale;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        const fs::path& path = entry.path();
        if (stem_files::fields(path)[0] == instrument && path.filename() != item.localPath.filename()) stale.push_back(path);
    }
    for (const auto& path : stale) {
        removeQuietly(path);
        log("Removed stale: " + path.filename().string());
    }
}

void StemsDownloader::startTransfer(std::size_t index) {
    const Item& item = items_[index];
    const fs::path temporary = item.localPath.string() + ".tmp";
    removeQuietly(temporary);
    HttpTransfers::Options options;
    options.file = temporary;
    options.maxBytes = std::min(kMaxBytes, limits_.maxSongBytes);
    options.stalledAfter = limits_.stalledAfter;
    options.maxTime = limits_.maxTime;
    options.abandon = &overBudget_;
    auto self = shared_from_this();
    {
        // Held by the item before the start: a transfer may end before start() returns.
        const std::lock_guard lock(mutex_);
        transfers_[index] = 0;
    }
    const HttpTransfers::Id id = services_.transfers.start(
        item.link, std::move(options),
        [self, index](std::int64_t received, std::int64_t expected) {
            self->count(index, std::max(received, expected));
            const double fraction = expected > 0 ? static_cast<double>(received) / static_cast<double>(expected) : 0.0;
            boost::asio::post(self->services_.mainQueue, [self, index, fraction] {
                if (self->onProgress_ && !self->isCancelled()) {
                    self->onProgress_(self->items_[index].instrumentName, self->items_[index].index, fraction);
                }
            });
        },
        [self, index, temporary](HttpResponse response) { self->transferEnded(index, std::move(response), temporary); });
    const std::lock_guard lock(mutex_);
    if (const auto running = transfers_.find(index); running != transfers_.end()) running->second = id;
}

// On the transfers' thread: past the song's bound, every transfer of the song ends. An announced
// length counts as received, so a body too large is refused before it is written.
void StemsDownloader::count(std::size_t index, std::int64_t bytes) {
    const std::lock_guard lock(mutex_);
    received_[index] = bytes;
    std::int64_t total = presentBytes_;
    for (const auto& [item, received] : received_) total += received;
    if (total > limits_.maxSongBytes) overBudget_ = true;
}

void StemsDownloader::transferEnded(std::size_t index, HttpResponse response, const fs::path& temporary) {
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_ || transfers_.erase(index) == 0) {
            removeQuietly(temporary);
            return;
        }
    }
    Item& item = items_[index];
    if (overBudget_) {
        log("Over the song's bound: " + item.instrumentName);
        item.error = Error{kDomain, -5, "The song's stems are larger than " + std::to_string(limits_.maxSongBytes) + " bytes"};
    } else if (response.transportError) {
        log("Network error: " + item.instrumentName + " -> " + *response.transportError);
        item.error = Error{"HttpTransfers", -1, *response.transportError};
    } else if (const std::int64_t size = fileSize(temporary); size < kMinBytes) {
        item.error = Error{kDomain, -3, formatText("Downloaded file too small (%lld bytes): %s", static_cast<long long>(size),
                                                   item.instrumentName.c_str())};
        log(formatText("File too small %lld bytes: %s", static_cast<long long>(size), item.instrumentName.c_str()));
    } else if (!stem_files::hasMp3Header(temporary)) {
        item.error = Error{kDomain, -4, "Downloaded file is not a valid MP3: " + item.instrumentName};
        log("Invalid MP3: " + item.instrumentName);
    } else {
        std::error_code error;
        fs::create_directories(folder_, error);
        removeQuietly(item.localPath);
        fs::rename(temporary, item.localPath, error);
        if (error) {
            item.error = Error{"FileSystem", error.value(), error.message()};
            log("Move failed: " + item.instrumentName + " -> " + error.message());
        } else {
            {
                const std::lock_guard lock(mutex_);
                ++downloadedCount_;
            }
            log(formatText("Done: %s (%lld bytes)", item.localPath.filename().c_str(), static_cast<long long>(fileSize(item.localPath))));
        }
    }
    removeQuietly(temporary);
    finishItem();
}

void StemsDownloader::finishItem() {
    {
        const std::lock_guard lock(mutex_);
        if (--pendingCount_ > 0) return;
        isDownloading_ = false;
        tellThePlayer();
    }
    std::size_t failed = 0;
    while (failed < items_.size() && !items_[failed].error) ++failed;
    log(formatText("All done — %lu paths, error=%s", static_cast<unsigned long>(items_.size()),
                   failed < items_.size() ? items_[failed].error->description.c_str() : "(null)"));
    complete();
}

// On the main queue, once, unless cancelled by then.
void StemsDownloader::complete() {
    std::vector<std::optional<std::string>> paths;
    std::optional<Error> error;
    for (const Item& item : items_) {
        paths.push_back(item.error ? std::nullopt : std::optional<std::string>(item.localPath.string()));
        if (item.error && !error) error = item.error;
    }
    boost::asio::post(services_.mainQueue, [self = shared_from_this(), paths = std::move(paths), error = std::move(error)]() mutable {
        if (self->onComplete_ && !self->isCancelled()) self->onComplete_(std::move(paths), std::move(error));
    });
}

void StemsDownloader::tellThePlayer() {
    if (songId_.empty() || downloadedCount_ < 1) return;
    if (services_.filesChanged) services_.filesChanged(songId_);
    downloadedCount_ = 0;
}

void StemsDownloader::cancel() {
    std::map<std::size_t, HttpTransfers::Id> running;
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        isDownloading_ = false;
        running.swap(transfers_);
    }
    for (const auto& [item, id] : running) services_.transfers.cancel(id);
    log("Cancelled");
}

}  // namespace kv

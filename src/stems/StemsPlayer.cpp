#include "stems/StemsPlayer.h"

#include "base/Console.h"
#include "base/HostClock.h"
#include "base/Log.h"
#include "base/TextFormat.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/ThreadPriority.h"
#include "stems/StemFiles.h"
#include "stems/StemsDownloader.h"
#include "store/File.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <system_error>
#include <thread>

namespace kv {

namespace {

constexpr double kMinRate = 0.25;
constexpr double kMaxRate = 4.0;
constexpr double kDefaultTempo = 120;
constexpr double kLeadWarningSeconds = 0.05;

void logAndPrint(const std::string& line) {
    logText(kLogInfo, line);
    consoleLine(line);
}

bool hasMp3Extension(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return extension == ".mp3";
}

double recordedTempoOf(const std::filesystem::path& file) {
    const auto fields = stem_files::fields(file);
    if (fields.size() < 2) return kDefaultTempo;
    char* end = nullptr;
    const double tempo = std::strtod(fields[1].c_str(), &end);
    return end != fields[1].c_str() && tempo > 0 ? tempo : kDefaultTempo;
}

}  // namespace

StemsPlayer::StemsPlayer(AudioEngine& engine, boost::asio::any_io_executor mainQueue, HttpTransfers& transfers)
    : engine_(engine), main_(std::move(mainQueue)), transfers_(transfers), filler_(engine.butler()) {
    life_->player = this;
    engine_.connect(master_, engine_.mainMixerNode());
}

StemsPlayer::~StemsPlayer() {
    {
        const std::lock_guard lock(life_->mutex);
        life_->player = nullptr;
    }
    loadQueue_.stop();
    tearDownStems();
    engine_.disconnect(master_, engine_.mainMixerNode());
}

void StemsPlayer::setOnPlaybackFinished(std::function<void(bool)> handler) {
    const std::lock_guard lock(mutex_);
    onPlaybackFinished_ = std::move(handler);
}

// A ".tmp" file is what an interrupted write left behind; of the MP3 files, the newest of each
// instrument plays.
std::vector<std::filesystem::path> StemsPlayer::stemFiles(const std::filesystem::path& folder) {
    std::map<std::int64_t, std::pair<std::filesystem::path, std::filesystem::file_time_type>> newest;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const auto& file = it->path();
        if (file.filename().string().ends_with(".tmp")) {
            std::filesystem::remove(file, error);
            error.clear();
            continue;
        }
        if (!hasMp3Extension(file)) continue;
        std::error_code dateError;
        const auto modified = std::filesystem::last_write_time(file, dateError);
        const auto instrument = stem_files::instrumentOf(file);
        const auto seen = newest.find(instrument);
        if (seen == newest.end()) {
            newest.emplace(instrument, std::pair{file, dateError ? std::filesystem::file_time_type::min() : modified});
        } else if (!dateError && modified > seen->second.second) {
            seen->second = {file, modified};
        }
    }
    std::vector<std::filesystem::path> files;
    for (const auto& [instrument, entry] : newest) files.push_back(entry.first);
    return files;
}

void StemsPlayer::fetch(const nlohmann::json& audioFiles, const std::string& songId, Done done) {
    const auto filesChanged = [life = life_](const std::string& changed) {
        const std::lock_guard lock(life->mutex);
        if (life->player) life->player->invalidateCacheForSongId(changed);
    };
    StemsDownloader::downloadWithJSON(
        {transfers_, main_, filesChanged}, audioFiles, songId,
        [](const std::string& item, std::int64_t index, double fraction) {
            consoleLine(formatText("[%ld] %s %.0f%%", static_cast<long>(index), item.c_str(), fraction * 100));
        },
        [done = std::move(done)](std::vector<std::optional<std::string>>, std::optional<StemsDownloader::Error> error) {
            done(error ? std::optional<std::string>(error->description) : std::nullopt);
        });
}

void StemsPlayer::prepare(const std::string& songId, double tempo, Done done) {
    prepareWithSongId(songId, tempo, [done = std::move(done)](std::optional<Error> failed) {
        done(failed ? std::optional<std::string>(failed->description) : std::nullopt);
    });
}

void StemsPlayer::start(std::uint64_t hostTime, double startSeconds, double endSeconds, float volume) {
    setOnPlaybackFinished([](bool stoppedByCaller) {
        consoleLine(stoppedByCaller ? "[StemsPlayer] User stopped playback" : "[StemsPlayer] Song finished naturally");
    });
    playAtHostTime(hostTime, startSeconds, endSeconds);
    setMasterVolume(volume);
}

void StemsPlayer::end() {
    if (isPlaying()) stop();
}

void StemsPlayer::prepareWithSongId(const std::string& songId, double targetBPM, Completion completion) {
    if (songId.empty()) return completion(Error{.description = "songId is empty"});
    {
        const std::lock_guard lock(mutex_);
        if (activeSongId_ && *activeSongId_ != songId) {
            consoleLine(formatText("[StemsPlayer] Switching song %s → %s, clearing raw PCM cache (%lu entries)", activeSongId_->c_str(),
                                   songId.c_str(), static_cast<unsigned long>(rawPCMCache_.size())));
            rawPCMCache_.clear();
        }
    }
    auto files = stemFiles(stem_files::songFolder(File::getRootPath(), songId));
    if (files.empty()) return completion(Error{.description = "No MP3 found for songId=" + songId});
    {
        const std::lock_guard lock(mutex_);
        if (isReady_ && activeSongId_ == songId && std::abs(activeBPM_ - targetBPM) < 0.01) {
            consoleLine(formatText("[StemsPlayer] Active session hit — %s %.1f BPM", songId.c_str(), targetBPM));
            isReady_ = !stStems_.empty();
            return completion(std::nullopt);
        }
    }
    consoleLine(formatText("[StemsPlayer] prepareWithSongId=%s %.1fBPM — %lu files", songId.c_str(), targetBPM,
                           static_cast<unsigned long>(files.size())));
    load(std::move(files), songId, targetBPM, std::move(completion));
}

void StemsPlayer::load(std::vector<std::filesystem::path> files, const std::string& songId, double targetBPM, Completion completion) {
    playing_ = false;
    isReady_ = false;
    tearDownStems();
    {
        const std::lock_guard lock(mutex_);
        tracks_.clear();
    }
    const double recorded = recordedTempoOf(files.front());
    const auto rate = static_cast<float>(std::clamp(targetBPM / recorded, kMinRate, kMaxRate));
    stretchRate_ = rate;
    activeOriginalBPM_ = recorded;
    consoleLine(formatText("[StemsPlayer] %.1f→%.1f BPM rate=%.4f", recorded, targetBPM, static_cast<double>(rate)));
    loadQueue_.async([this, files = std::move(files), songId, targetBPM, completion = std::move(completion)] {
        const auto began = std::chrono::steady_clock::now();
        std::vector<Track> tracks;
        double longest = 0;
        if (auto error = decodeAll(files, tracks, longest)) return completion(std::move(error));
        std::erase_if(tracks, [](const Track& track) { return !track.buffer; });
        if (tracks.empty()) return completion(Error{.description = "No tracks loaded"});
        try {
            activate(std::move(tracks), songId, targetBPM, longest);
        } catch (const std::bad_alloc&) {
            tearDownStems();
            return completion(Error{.description = "not enough memory for the stems"});
        }
        consoleLine(formatText("[StemsPlayer] Ready — %.1fs | prepare=%.2fs", longest,
                               std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count()));
        completion(std::nullopt);
    });
}

// One task per file, as many at a time as there are cores; a file decoded before comes from the
// raw PCM cache. A file that does not decode is removed, so that it is fetched again.
std::optional<StemsPlayer::Error> StemsPlayer::decodeAll(const std::vector<std::filesystem::path>& files, std::vector<Track>& tracks,
                                                         double& longest) {
    tracks.assign(files.size(), {});
    std::optional<Error> firstError;
    std::atomic<std::size_t> next{0};
    std::size_t decodedBytes = 0;
    const auto fail = [&](const std::string& reason) {
        if (!firstError) firstError = Error{.description = reason};
    };
    const auto decodeOne = [&](const std::filesystem::path& file, std::size_t index) {
        Decoded buffer;
        {
            const std::lock_guard lock(mutex_);
            if (const auto hit = rawPCMCache_.find(file.string()); hit != rawPCMCache_.end()) buffer = hit->second;
        }
        if (!buffer) {
            auto decoded = decodeMp3(file, kMaxStemSeconds);
            if (auto* failure = std::get_if<std::string>(&decoded)) {
                std::error_code ignored;
                std::filesystem::remove(file, ignored);
                const std::lock_guard lock(mutex_);
                return fail(file.filename().string() + ": " + *failure);
            }
            buffer = std::make_shared<const DecodedAudio>(std::move(std::get<DecodedAudio>(decoded)));
        }
        const std::lock_guard lock(mutex_);
        decodedBytes += std::size_t{buffer->frames()} * buffer->planes.size() * sizeof(float);
        if (decodedBytes > kMaxDecodedBytes) return fail("the stems are longer together than the service takes");
        rawPCMCache_[file.string()] = buffer;
        tracks[index] = {buffer, stem_files::instrumentOf(file)};
        if (buffer->sampleRate > 0) longest = std::max(longest, buffer->frames() / buffer->sampleRate);
    };
    const auto decodeNext = [&] {
        for (std::size_t index = next++; index < files.size(); index = next++) {
            try {
                decodeOne(files[index], index);
            } catch (const std::exception& error) {
                const std::lock_guard lock(mutex_);
                fail(error.what());
            }
        }
    };
    const auto workers = std::min<std::size_t>(files.size(), std::max(1U, std::thread::hardware_concurrency()));
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 1; i < workers; ++i) {
            threads.emplace_back([&decodeNext] {
                nameCurrentThread("StemDecode");
                decodeNext();
            });
        }
        decodeNext();
    }
    return firstError;
}

void StemsPlayer::activate(std::vector<Track> tracks, const std::string& songId, double targetBPM, double longestSeconds) {
    tearDownStems();
    const float rate = stretchRate_;
    duration_ = longestSeconds / rate;
    std::vector<std::shared_ptr<StemRenderer>> made;
    for (const Track& track : tracks) {
        auto stem = StemRenderer::make(track.buffer, track.instrumentId, rate, engine_.sampleRate(), engine_.butler());
        if (!stem) continue;
        engine_.connect(stem->gain(), master_);
        engine_.connect(stem, stem->gain());
        consoleLine(formatText("[ST] attach stem instr=%ld", static_cast<long>(track.instrumentId)));
        made.push_back(std::move(stem));
    }
    startEngineIfNeeded();
    const std::lock_guard lock(mutex_);
    tracks_ = std::move(tracks);
    stStems_ = std::move(made);
    activeSongId_ = songId;
    activeBPM_ = targetBPM;
    isReady_ = true;
    consoleLine(formatText("[ST] activated %lu stems rate=%.4f dur=%.2fs", static_cast<unsigned long>(stStems_.size()),
                           static_cast<double>(rate), duration_.load()));
}

// The fill must be over before the nodes leave the graph; the engine frees them once no render
// can reach them.
void StemsPlayer::tearDownStems() {
    std::vector<std::shared_ptr<StemRenderer>> old;
    {
        const std::lock_guard lock(mutex_);
        old = std::exchange(stStems_, {});
    }
    for (const auto& stem : old) stem->stop();
    filler_.stopFilling();
    filler_.sync([] {});
    for (const auto& stem : old) {
        engine_.disconnect(stem, stem->gain());
        engine_.disconnect(stem->gain(), master_);
    }
}

// The engine renders through the output it was given at start-up; the stems only need it running.
void StemsPlayer::startEngineIfNeeded() {
    if (engine_.isRunning()) return;
    logAndPrint(formatText("[StemsPlayer] HW format — SR=%.0fHz ch=%u interleaved=%d commonFormat=%lu latency=%.2fms",
                           engine_.sampleRate(), 2U, 1, 1UL, engine_.outputLatencySeconds() * 1000));
    logAndPrint(formatText("[StemsPlayer] connect mainMixerNode→outputNode format=%.0fHz ch=%u", engine_.sampleRate(), 2U));
    if (!engine_.start()) consoleLine("[ST] engine start FAILED: " + engine_.lastError());
}

void StemsPlayer::playAtHostTime(std::uint64_t startHostTime, double startSeconds, double endSeconds) {
    logAndPrint(formatText("[StemsPlayer] playSegment %.2f-%.2fs isReady=%d engineRunning=%d masterVol=%.2f mainMixerVol=%.2f",
                           startSeconds, endSeconds, isReady_ ? 1 : 0, engine_.isRunning() ? 1 : 0,
                           static_cast<double>(master_->outputVolume()),
                           static_cast<double>(engine_.mainMixerNode()->outputVolume())));
    if (!isReady_) {
        consoleLine("[StemsPlayer] Not ready");
        return;
    }
    const std::uint64_t now = engine_.now();
    const double lead = host_clock::ticksToSeconds(static_cast<std::int64_t>(std::max(startHostTime, now) - now));
    if (lead < kLeadWarningSeconds) {
        consoleLine(formatText("[StemsPlayer] playAtScheduledTime called too late (%.1fms lead time)", lead * 1000));
    }
    const std::uint64_t at = std::max(startHostTime, now);
    const auto playing = stems();
    const float rate = stretchRate_;
    filler_.stopFilling();
    filler_.sync([&] {
        for (const auto& stem : playing) stem->arm(startSeconds, endSeconds, rate, at);
    });
    startEngineIfNeeded();
    filler_.fill(playing, endNotice());
    consoleLine(formatText("[ST] start %lu stems in=%.0fms rate=%.4f seg %.2f-%.2fs", static_cast<unsigned long>(playing.size()),
                           lead * 1000, static_cast<double>(rate), startSeconds, endSeconds));
    onMain([this] { playing_ = true; });
}

// The end is heard, not timed: it comes when the last stem has rendered its last frame, and
// never while nothing renders. A later play or a stop makes this one's notice stale.
std::function<void()> StemsPlayer::endNotice() {
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(life_->mutex);
        generation = ++life_->generation;
    }
    return [life = life_, generation, main = main_] {
        boost::asio::post(main, [life, generation] {
            const std::lock_guard lock(life->mutex);
            if (life->player && life->generation == generation) life->player->segmentEnded();
        });
    };
}

void StemsPlayer::segmentEnded() {
    if (!playing_) return;
    playing_ = false;
    isReady_ = false;
    consoleLine("[ST] finished");
    std::function<void(bool)> handler;
    {
        const std::lock_guard lock(mutex_);
        handler = onPlaybackFinished_;
    }
    if (handler) handler(false);
}

void StemsPlayer::stop(std::source_location caller) {
    if (!MainQueue::isCurrentThread()) {
        boost::asio::post(main_, [this, caller] { stop(caller); });
        return;
    }
    logAndPrint(formatText("[StemsPlayer] stop() — playing=%d isReady=%d", playing_ ? 1 : 0, isReady_ ? 1 : 0));
    logAndPrint(formatText("[StemsPlayer] stop() caller: %s (%s:%u)", caller.function_name(), caller.file_name(),
                           static_cast<unsigned>(caller.line())));
    const auto playing = stems();
    filler_.stopFilling();
    for (const auto& stem : playing) stem->stop();
    consoleLine(formatText("[ST] stop %lu stems", static_cast<unsigned long>(playing.size())));
    {
        const std::lock_guard lock(life_->mutex);
        ++life_->generation;
    }
    const bool wasPlaying = playing_.exchange(false);
    isReady_ = !playing.empty();
    std::function<void(bool)> handler;
    {
        const std::lock_guard lock(mutex_);
        handler = onPlaybackFinished_;
    }
    if (wasPlaying && handler) handler(true);
}

void StemsPlayer::setVolumeForInstrumentId(float volume, std::int64_t instrumentId) {
    onMain([this, volume, instrumentId] {
        bool found = false;
        for (const auto& stem : stems()) {
            if (stem->instrumentId() != instrumentId) continue;
            stem->gain()->setOutputVolume(std::clamp(volume, 0.0F, 1.0F));
            found = true;
        }
        if (!found) consoleLine(formatText("[StemsPlayer] instrumentId %ld not found (ST)", static_cast<long>(instrumentId)));
    });
}

void StemsPlayer::setMasterVolume(float volume) {
    onMain([this, volume] { master_->setOutputVolume(std::clamp(volume, 0.0F, 1.0F)); });
}

void StemsPlayer::invalidateCacheForSongId(const std::string& songId) {
    if (songId.empty()) return;
    const std::lock_guard lock(mutex_);
    const std::string folderPart = "/Cache/" + songId + "/";
    std::erase_if(rawPCMCache_, [&folderPart](const auto& entry) { return entry.first.find(folderPart) != std::string::npos; });
    if (activeSongId_ == songId) {
        activeSongId_.reset();
        activeBPM_ = 0;
    }
    consoleLine("[StemsPlayer] invalidateCacheForSongId: " + songId);
}

void StemsPlayer::onMain(std::function<void()> work) {
    if (MainQueue::isCurrentThread()) return work();
    boost::asio::post(main_, std::move(work));
}

std::vector<std::shared_ptr<StemRenderer>> StemsPlayer::stems() const {
    const std::lock_guard lock(mutex_);
    return stStems_;
}

}  // namespace kv

#include "audio/Mp3Decoder.h"
#include "base/SharedObject.h"
#include "platform/dispatch/MainQueue.h"
#include "stems/StemFiles.h"
#include "stems/StemRenderer.h"
#include "stems/StemsPlayer.h"
#include "store/File.h"
#include "support/Eventually.h"
#include "support/Mp3Files.h"
#include "support/OfflineEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <numbers>

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr double kRate = 48000;
constexpr std::uint64_t kStart = 5'000'000'000;

std::shared_ptr<const DecodedAudio> tone(double seconds, double frequency, std::size_t channels = 1) {
    auto audio = std::make_shared<DecodedAudio>();
    audio->sampleRate = kRate;
    audio->planes.assign(channels, std::vector<float>(static_cast<std::size_t>(seconds * kRate)));
    for (std::size_t i = 0; i < audio->planes[0].size(); ++i) {
        for (auto& plane : audio->planes) {
            plane[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / kRate));
        }
    }
    return audio;
}

// The butler the stems below summon: their rings are topped up by hand.
AudioButler& idleButler() {
    static AudioButler butler([] {});
    return butler;
}

std::shared_ptr<StemRenderer> makeStem(std::shared_ptr<const DecodedAudio> recording, float rate) {
    return StemRenderer::make(std::move(recording), 1, rate, kRate, idleButler());
}

// Renders the stem by hand from its start: interleaved stereo, the ring topped up after each
// buffer from `fillFrom` on.
std::vector<float> render(StemRenderer& stem, std::size_t frames, std::size_t fillFrom = 0) {
    std::vector<float> output(frames * 2, 0.0F);
    for (std::size_t at = 0; at < frames; at += 256) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(256, frames - at));
        stem.render(RenderContext{output.data() + at * 2, count, kStart + static_cast<std::uint64_t>(static_cast<double>(at) * 1e9 / kRate), kRate});
        if (at >= fillFrom) stem.fill();
    }
    return output;
}

std::size_t firstSounding(const std::vector<float>& stereo) {
    for (std::size_t i = 0; i < stereo.size() / 2; ++i) {
        if (std::fabs(stereo[i * 2]) > 0.1) return i;
    }
    return stereo.size() / 2;
}

// The frequency of a sine in the left channel, from its rising zero crossings.
double frequencyOf(const std::vector<float>& stereo, std::size_t from, std::size_t to) {
    std::vector<double> crossings;
    for (std::size_t i = from + 1; i < to; ++i) {
        const float before = stereo[(i - 1) * 2];
        const float now = stereo[i * 2];
        if (before < 0 && now >= 0) crossings.push_back(static_cast<double>(i - 1) + before / (before - now));
    }
    if (crossings.size() < 2) return 0;
    return kRate * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
}

std::size_t soundingFrames(const std::vector<float>& stereo) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < stereo.size() / 2; ++i) {
        if (std::fabs(stereo[i * 2]) > 1e-3) last = i + 1;
    }
    return last;
}

TEST(StemRenderer, ARateStretchesTheSegmentInTimeAndNotInPitch) {
    for (const float rate : {1.5F, 0.75F}) {
        const auto stem = makeStem(tone(2.0, 440), rate);
        stem->arm(0, 0, rate, kStart);
        const auto output = render(*stem, static_cast<std::size_t>(3.0 * kRate));
        EXPECT_NEAR(frequencyOf(output, 4800, static_cast<std::size_t>(1.2 * kRate)), 440, 4.4) << rate;
        EXPECT_NEAR(static_cast<double>(soundingFrames(output)) / kRate, 2.0 / rate, 0.03) << rate;
        EXPECT_NEAR(stem->playedDurationSec(), 2.0 / rate, 1e-6);
    }
}

// (start, end, rate) of a 60 s recording → seconds played: an end before the start plays to the
// end, a start beyond the recording plays nothing.
TEST(StemRenderer, SegmentsMapThroughTheRateAndEndWithTheRecording) {
    const auto stem = makeStem(tone(60, 440), 2.0F);
    for (const auto& [start, end, rate, played] : std::vector<std::tuple<double, double, float, double>>{
             {10, 20, 2.0F, 10}, {10, 5, 2.0F, 20}, {0, 0, 1.0F, 60}, {100, 0, 1.0F, 0}}) {
        stem->arm(start, end, rate, kStart);
        EXPECT_DOUBLE_EQ(stem->playedDurationSec(), played) << start << " " << end;
    }
    EXPECT_EQ(soundingFrames(render(*stem, 4800)), 0U);
    EXPECT_FALSE(makeStem(std::make_shared<DecodedAudio>(), 1.0F)) << "an empty recording makes no stem";
}

// A ring that runs dry (its fill half a second late) leaves a gap, and the stem goes on where the
// timeline is, not late for the rest of the song; its end is when its last frame has rendered.
TEST(StemRenderer, ADryRingLeavesAGapNotADelayAndTheEndIsHeard) {
    auto marked = std::make_shared<DecodedAudio>(*tone(2.0, 440));
    std::fill_n(marked->planes[0].begin(), static_cast<std::size_t>(kRate), 0.0F);  // sound from 1 s on
    const auto stem = makeStem(marked, 1.0F);
    stem->arm(0, 0, 1.0F, kStart);
    const auto output = render(*stem, static_cast<std::size_t>(1.9 * kRate), static_cast<std::size_t>(0.5 * kRate));
    EXPECT_NEAR(static_cast<double>(firstSounding(output)) / kRate, 1.0, 0.01);
    EXPECT_FALSE(stem->hasEnded());
    std::vector<float> rest(static_cast<std::size_t>(0.2 * kRate) * 2);
    stem->render(RenderContext{rest.data(), static_cast<std::uint32_t>(0.2 * kRate), kStart + static_cast<std::uint64_t>(1.9e9), kRate});
    EXPECT_TRUE(stem->hasEnded());
}

class StemsPlayerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        tones_ = new fs::path(File::getRootPath() / "tones");
        fs::create_directories(*tones_);
        test::writeToneMp3(*tones_ / "stereo.mp3", 1.0, 440, 2);
        test::writeToneMp3(*tones_ / "mono.mp3", 1.0, 330, 1);
    }
    static void TearDownTestSuite() { delete tones_; }

    fs::path songFolder(const std::string& songId) const { return stem_files::songFolder(File::getRootPath(), songId); }
    void put(const std::string& songId, const std::string& name, const std::string& tone = "stereo.mp3") const {
        fs::create_directories(songFolder(songId));
        fs::copy_file(*tones_ / tone, songFolder(songId) / name, fs::copy_options::overwrite_existing);
    }
    std::optional<StemsPlayer::Error> prepare(const std::string& songId, double bpm) {
        std::promise<std::optional<StemsPlayer::Error>> done;
        auto outcome = done.get_future();
        player_->prepareWithSongId(songId, bpm, [&done](auto error) { done.set_value(std::move(error)); });
        EXPECT_EQ(outcome.wait_for(30s), std::future_status::ready);
        return outcome.get();
    }
    std::uint64_t frameTime(std::uint64_t frame) const { return engine_.device->hostTimeOfFrame(frame); }
    // Plays the prepared song from its start for `frames`, then stops it: what was heard.
    std::vector<float> played(std::uint64_t frames) {
        main_->sync([] {});  // volumes set meanwhile have reached their stems
        const auto from = static_cast<std::uint64_t>(engine_.device->recorded().size() / 2);
        player_->playAtHostTime(frameTime(from), 0, 0);
        engine_.device->renderFrames(frames);
        main_->sync([this] { player_->stop(); });
        const auto& recorded = engine_.device->recorded();
        return std::vector<float>(recorded.begin() + static_cast<std::ptrdiff_t>(from * 2), recorded.end());
    }

    static fs::path* tones_;
    SharedObject<MainQueue> main_;
    test::OfflineEngine engine_;
    HttpTransfers transfers_;
    SharedObject<StemsPlayer> player_{*engine_.engine, main_->executor(), transfers_};
};

fs::path* StemsPlayerTest::tones_ = nullptr;

// Per instrument the newest file; ".tmp" files and other names left out, a partial download
// removed; each file decoded once per song (a file spoiled after its first decoding still plays).
TEST_F(StemsPlayerTest, AFolderPreparesTheNewestFileOfEachInstrumentAndDecodesItOnce) {
    put("a", "3_96_aaaaaaaa.mp3");
    put("a", "3_100_bbbbbbbb.mp3", "mono.mp3");
    put("a", "1_96_cccccccc.mp3");
    fs::last_write_time(songFolder("a") / "3_96_aaaaaaaa.mp3", fs::file_time_type::clock::now() - 1h);
    std::ofstream(songFolder("a") / "1_96_dddddddd.mp3.tmp") << "partial";
    std::ofstream(songFolder("a") / "notes.txt") << "x";
    EXPECT_FALSE(prepare("a", 96));
    EXPECT_FALSE(fs::exists(songFolder("a") / "1_96_dddddddd.mp3.tmp"));
    EXPECT_TRUE(player_->isReady());
    EXPECT_NEAR(player_->duration(), 1.0, 0.05);
    EXPECT_EQ(player_->stretchRate(), 1.0F);
    player_->setVolumeForInstrumentId(0.0F, 1);
    EXPECT_NEAR(frequencyOf(played(9600), 0, 9600), 330, 3.3) << "instrument 3 plays its newer file";

    for (const auto& file : {"3_100_bbbbbbbb.mp3", "1_96_cccccccc.mp3"}) std::ofstream(songFolder("a") / file) << "spoiled";
    for (const auto& [bpm, rate] : {std::pair{400.0, 4.0F}, std::pair{10.0, 0.25F}, std::pair{96.0, 1.0F}}) {
        EXPECT_FALSE(prepare("a", bpm)) << bpm;
        EXPECT_EQ(player_->stretchRate(), rate);
    }

    put("b", "1.mp3");
    EXPECT_FALSE(prepare("b", 60));
    EXPECT_EQ(player_->stretchRate(), 0.5F) << "a name without a tempo counts 120";
    put("a", "1_96_cccccccc.mp3");
    std::ofstream(songFolder("a") / "3_100_bbbbbbbb.mp3") << "spoiled";
    EXPECT_TRUE(prepare("a", 96)) << "another song's decodings were let go";

    EXPECT_EQ(prepare("", 90)->description, "songId is empty");
    EXPECT_EQ(prepare("none", 90)->description, "No MP3 found for songId=none");
    std::ofstream(songFolder("b") / "2_90_broken.mp3") << std::string(5000, 'x');
    EXPECT_TRUE(prepare("b", 61));
    EXPECT_FALSE(player_->isReady()) << "a failed loading leaves nothing prepared";
    EXPECT_FALSE(fs::exists(songFolder("b") / "2_90_broken.mp3")) << "what does not decode is fetched again";
}

// However long a file says it is, decoding takes no more than its bound.
TEST_F(StemsPlayerTest, DecodingStopsAtTheLongestStemTaken) {
    for (const auto& [maxSeconds, decodes] : {std::pair{0.5, false}, std::pair{1.5, true}, std::pair{0.0, false}}) {
        const auto decoded = decodeMp3(*tones_ / "stereo.mp3", maxSeconds);
        EXPECT_EQ(std::holds_alternative<DecodedAudio>(decoded), decodes) << maxSeconds;
    }
}

TEST_F(StemsPlayerTest, StemsStartOnTheirFrameAndEndWhenHeardOrByAStop) {
    put("play", "2_120_mono.mp3", "mono.mp3");
    ASSERT_FALSE(prepare("play", 120));
    std::atomic<int> stopped{0};
    std::atomic<int> ended{0};
    player_->setOnPlaybackFinished([&](bool byCaller) { ++(byCaller ? stopped : ended); });

    engine_.device->renderFrames(4800);
    const std::uint64_t startFrame = 4800 + 960;  // too late to be primed: it starts on its frame all the same
    player_->playAtHostTime(frameTime(startFrame), 0, 0);
    engine_.device->renderFrames(9600);
    const auto& recorded = engine_.device->recorded();
    for (std::size_t frame = 4800; frame < startFrame; ++frame) ASSERT_EQ(recorded[frame * 2], 0.0F) << frame;
    float peak = 0;
    for (std::size_t frame = startFrame; frame < startFrame + 480; ++frame) {
        peak = std::max(peak, std::fabs(recorded[frame * 2]));
        ASSERT_EQ(recorded[frame * 2], recorded[frame * 2 + 1]) << "one channel on both sides";
    }
    EXPECT_GT(peak, 0.2F);
    main_->sync([] {});
    EXPECT_TRUE(player_->isPlaying());
    main_->sync([this] { player_->stop(); });
    main_->sync([this] { player_->stop(); });
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_TRUE(player_->isReady()) << "a stopped song starts again without preparing";

    // The end comes from the audio: not while nothing renders, and once the last frame has.
    const auto now = static_cast<std::uint64_t>(engine_.device->recorded().size() / 2);
    player_->playAtHostTime(frameTime(now + 4800), player_->duration() - 0.3, 0);
    engine_.device->renderFrames(4800 + 9600);
    EXPECT_FALSE(test::eventually([&] { return ended > 0; }, 1s)) << "the end came before the segment's last frame";
    std::uint64_t rendered = 4800 + 9600;
    while (ended == 0 && rendered < 10 * 48000) {
        engine_.device->renderFrames(960);
        rendered += 960;
        main_->sync([] {});
    }
    EXPECT_EQ(ended, 1);
    EXPECT_GE(rendered, 4800U + 14400U) << "the 0.3 s segment";
    EXPECT_FALSE(player_->isReady()) << "a finished song is prepared again";
    EXPECT_EQ(stopped, 1);
}

TEST_F(StemsPlayerTest, VolumesReachTheirStemsAndTheMaster) {
    put("mix", "1_100_x.mp3");
    put("mix", "2_100_y.mp3", "mono.mp3");
    ASSERT_FALSE(prepare("mix", 100));
    const auto level = [this] {
        float peak = 0;
        for (const float sample : played(4800)) peak = std::max(peak, std::fabs(sample));
        return peak;
    };
    const float both = level();
    player_->setVolumeForInstrumentId(0.0F, 2);
    player_->setVolumeForInstrumentId(0.0F, 1);
    player_->setVolumeForInstrumentId(1.0F, 7);
    EXPECT_LT(level(), 1e-4F);
    player_->setVolumeForInstrumentId(1.5F, 1);
    player_->setMasterVolume(0.5F);
    const float half = level();
    EXPECT_GT(half, 0.1F);
    EXPECT_LT(half, both);
}

}  // namespace
}  // namespace kv

#include "platform/audio/AudioEngine.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "playback/Metronome.h"

#include "support/OfflineEngine.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace kv {
namespace {

using namespace std::chrono_literals;


struct Onset {
    std::int64_t frame;
    float level;
};

class MetronomeTest : public ::testing::Test {
protected:
    MetronomeTest() : metronome_(std::make_unique<Metronome>(*offline_.engine, test::writeTestClick(folder_.path()))) {}
    ~MetronomeTest() override { metronome_.reset(); }

    std::uint64_t renderedFrames() const { return device_->recorded().size() / 2; }

    // Renders seconds of audio 50 ms at a time, scheduling after each step as the timer would.
    void play(double seconds) {
        metronome_->schedulePendingTicksNow();
        for (double done = 0; done < seconds; done += 0.05) {
            device_->renderFrames(2400);
            metronome_->schedulePendingTicksNow();
        }
    }

    std::vector<Onset> onsets(std::uint64_t from = 0) const {
        std::vector<Onset> found;
        const auto& samples = device_->recorded();
        for (std::size_t frame = std::max<std::uint64_t>(from, 1); frame * 2 < samples.size(); ++frame) {
            if (samples[frame * 2] != 0.0F && samples[(frame - 1) * 2] == 0.0F) {
                found.push_back({static_cast<std::int64_t>(frame), samples[frame * 2]});
            }
        }
        return found;
    }

    test::TempDirectory folder_;
    test::OfflineEngine offline_;
    OfflineAudioDevice* device_ = offline_.device;
    std::unique_ptr<Metronome> metronome_;
};

TEST_F(MetronomeTest, TheClickPeakSetsTheMixerGain) {
    EXPECT_FLOAT_EQ(metronome_->maxTickGain(), 1.8F);
    metronome_->setVolume(0.5F);
    metronome_->startWithInterval(0.5);
    EXPECT_FLOAT_EQ(metronome_->mixerVolume(), 0.9F);
}

TEST_F(MetronomeTest, TicksAtAConstantIntervalFromAStartInThePast) {
    device_->renderFrames(1000);
    metronome_->startWithInterval(0.05, offline_.engine->now() - 1'000'000'000);  // stored as 0.1
    play(1.0);
    const auto found = onsets();
    ASSERT_GE(found.size(), 9u);
    EXPECT_EQ(found[0].frame, 1000 + 480);  // 10 ms after now
    for (std::size_t i = 1; i < found.size(); ++i) EXPECT_EQ(found[i].frame - found[i - 1].frame, 4800) << i;
}

TEST_F(MetronomeTest, ABeatListIsFollowedThenContinuedAtItsLastSpacing) {
    metronome_->setTempoMapBeatOffsets({0, 0.5, 1.0});
    metronome_->setTempoMapBeatVolumes({1, 0, 0});
    metronome_->startWithInterval(0.25, offline_.engine->now() - 1'000'000'000);
    play(2.3);
    const auto found = onsets();
    ASSERT_GE(found.size(), 5u);
    for (std::size_t i = 1; i < 5; ++i) EXPECT_EQ(found[i].frame - found[0].frame, static_cast<std::int64_t>(i) * 24000) << i;
    const float full = found[0].level;
    EXPECT_FLOAT_EQ(found[1].level, full * 0.8F);  // soft
    EXPECT_FLOAT_EQ(found[2].level, full * 0.8F);
    EXPECT_FLOAT_EQ(found[3].level, full);         // past the volume list: full
    EXPECT_FLOAT_EQ(found[4].level, full);
}

TEST_F(MetronomeTest, AccentsFollowTheMeterWithoutAVolumeList) {
    metronome_->setMetronomeMeterBeatsPerMeasure(4, 2);
    metronome_->startWithInterval(0.1, offline_.engine->now() - 1'000'000'000);
    play(1.2);
    const auto found = onsets();
    ASSERT_GE(found.size(), 11u);
    const float full = std::max(found[0].level, found[2].level);
    for (std::size_t tick = 0; tick < 11; ++tick) {
        const bool accented = (2 + tick) % 4 == 0;
        EXPECT_FLOAT_EQ(found[tick].level, accented ? full : full * 0.8F) << tick;
    }
}

TEST_F(MetronomeTest, VolumeZeroSchedulesSilentClicksAndStopEndsTheTicks) {
    metronome_->setVolume(0);
    testing::internal::CaptureStderr();
    metronome_->startWithInterval(0.1, offline_.engine->now() - 1'000'000'000);
    play(0.6);
    std::this_thread::sleep_for(50ms);  // the completions
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(onsets().empty());
    EXPECT_NE(console.find("[Metronome] tick=3 in="), std::string::npos);
    const auto measured = console.find("[Metronome] tick=2 actual=");
    ASSERT_NE(measured, std::string::npos) << console;
    EXPECT_EQ(console.substr(console.find('[', measured + 11), 6), "[GOOD]");

    metronome_->setVolume(1);
    metronome_->stop();
    const auto stoppedAt = renderedFrames();
    play(1.0);
    EXPECT_TRUE(onsets(stoppedAt).empty());
}

TEST_F(MetronomeTest, NoClickSoundsAfterStopEvenFromAPassAlreadyScheduling) {
    std::atomic<bool> passing{true};
    std::thread timer([&] {
        while (passing) metronome_->schedulePendingTicksNow();
    });
    for (int round = 0; round < 40; ++round) {
        metronome_->startWithInterval(0.1, offline_.engine->now() - 1'000'000'000);
        device_->renderFrames(960);
        metronome_->stop();
        const auto stoppedAt = renderedFrames();
        device_->renderFrames(48'000);  // ten intervals: more than a pass schedules ahead
        EXPECT_TRUE(onsets(stoppedAt).empty()) << "round " << round;
    }
    passing = false;
    timer.join();
}

TEST_F(MetronomeTest, TicksAlreadyPastAreSkippedAndNeverPlayed) {
    metronome_->startWithInterval(0.1, offline_.engine->now() - 1'000'000'000);
    metronome_->schedulePendingTicksNow();
    testing::internal::CaptureStderr();
    device_->renderFrames(48000 * 2);  // two seconds pass without a refill
    metronome_->schedulePendingTicksNow();
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("[Metronome] skip tick=9 ("), std::string::npos) << console;
    const auto afterSkip = renderedFrames();
    play(0.5);
    const auto found = onsets(afterSkip);
    ASSERT_FALSE(found.empty());
    EXPECT_LE(found[0].frame - static_cast<std::int64_t>(afterSkip), 4800);
}

TEST_F(MetronomeTest, MovingToAnotherEngineStopsAndTicksThere) {
    metronome_->startWithInterval(0.1, offline_.engine->now() - 1'000'000'000);
    play(0.3);
    test::OfflineEngine other;
    metronome_->useEngine(other.engine.get());
    EXPECT_FALSE(metronome_->isRunning());
    const auto movedAt = renderedFrames();
    metronome_->startWithInterval(0.1, offline_.engine->now() - 1'000'000'000);
    metronome_->schedulePendingTicksNow();
    other.device->renderFrames(48000);
    device_->renderFrames(48000);
    EXPECT_TRUE(onsets(movedAt).empty());  // nothing more on the old engine
    const auto& moved = other.device->recorded();
    EXPECT_TRUE(std::any_of(moved.begin(), moved.end(), [](float sample) { return sample != 0.0F; }));
    metronome_->useEngine(offline_.engine.get());
}

}  // namespace
}  // namespace kv

#include "audio/AudioEngine.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "platform/dispatch/SerialQueue.h"
#include "playback/Metronome.h"

#include "support/OfflineEngine.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kv {
namespace {

struct Onset {
    std::int64_t frame;
    float level;
};

class MetronomeTest : public ::testing::Test {
protected:
    MetronomeTest()
        : metronome_(std::make_unique<Metronome>(*offline_.engine, test::writeTestClick(folder_.path()), schedule_.executor())) {}

    std::uint64_t renderedFrames() const { return device_->recorded().size() / 2; }
    void startASecondAgo(double interval) { metronome_->startWithInterval(interval, offline_.engine->now() - 1'000'000'000); }

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
    SerialQueue schedule_{"Metronome"};
    std::unique_ptr<Metronome> metronome_;
};

TEST_F(MetronomeTest, TicksAtAConstantIntervalFromAStartInThePast) {
    device_->renderFrames(1000);
    startASecondAgo(0.05);  // stored as 0.1
    play(1.0);
    const auto found = onsets();
    ASSERT_GE(found.size(), 9u);
    EXPECT_EQ(found[0].frame, 1000 + 480);  // 10 ms after now
    for (std::size_t i = 1; i < found.size(); ++i) EXPECT_EQ(found[i].frame - found[i - 1].frame, 4800) << i;
}

TEST_F(MetronomeTest, ABeatListIsFollowedThenContinuedAtItsLastSpacing) {
    metronome_->setTempoMapBeatOffsets({0, 0.5, 1.0});
    metronome_->setTempoMapBeatVolumes({1, 0, 0});
    startASecondAgo(0.25);
    play(2.3);
    const auto found = onsets();
    ASSERT_GE(found.size(), 5u);
    const float full = found[0].level;
    const std::vector<float> levels = {full, full * 0.8F, full * 0.8F, full, full};  // past the volume list: full
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(found[i].frame - found[0].frame, static_cast<std::int64_t>(i) * 24000) << i;
        EXPECT_FLOAT_EQ(found[i].level, levels[i]) << i;
    }
}

TEST_F(MetronomeTest, AccentsFollowTheMeterWithoutAVolumeList) {
    metronome_->setMetronomeMeterBeatsPerMeasure(4, 2);
    startASecondAgo(0.1);
    play(1.2);
    const auto found = onsets();
    ASSERT_GE(found.size(), 11u);
    const float full = std::max(found[0].level, found[2].level);
    for (std::size_t tick = 0; tick < 11; ++tick) {
        EXPECT_FLOAT_EQ(found[tick].level, (2 + tick) % 4 == 0 ? full : full * 0.8F) << tick;
    }
}

TEST_F(MetronomeTest, VolumeZeroIsSilentAndAVolumeLaterIsHeard) {
    metronome_->setVolume(0);
    startASecondAgo(0.1);
    play(0.6);
    EXPECT_TRUE(onsets().empty());
    metronome_->setVolume(1);
    const auto loudFrom = renderedFrames();
    play(1.5);  // past the clicks already scheduled silent
    EXPECT_FALSE(onsets(loudFrom).empty());
}

TEST_F(MetronomeTest, NoClickSoundsAfterStopEvenFromAPassAlreadyScheduling) {
    std::atomic<bool> passing{true};
    std::thread timer([&] {
        while (passing) metronome_->schedulePendingTicksNow();
    });
    for (int round = 0; round < 40; ++round) {
        startASecondAgo(0.1);
        device_->renderFrames(960);
        metronome_->stop();
        const auto stoppedAt = renderedFrames();
        device_->renderFrames(48'000);  // ten intervals: more than a pass schedules ahead
        EXPECT_TRUE(onsets(stoppedAt).empty()) << "round " << round;
    }
    passing = false;
    timer.join();
}

// Two seconds pass without a refill: the ticks gone by are never played late, and the clicks
// after stay on the grid of the first.
TEST_F(MetronomeTest, TicksAlreadyPastAreSkippedAndNeverPlayed) {
    startASecondAgo(0.1);
    metronome_->schedulePendingTicksNow();
    device_->renderFrames(48000 * 2);
    const auto afterSkip = renderedFrames();
    play(0.5);
    const auto found = onsets();
    ASSERT_GE(found.size(), 2u);
    ASSERT_GT(found.back().frame, static_cast<std::int64_t>(afterSkip));
    for (const auto& onset : found) EXPECT_EQ((onset.frame - found[0].frame) % 4800, 0) << onset.frame;
}

}  // namespace
}  // namespace kv

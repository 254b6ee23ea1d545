#include "audio/AudioEngine.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "playback/Metronome.h"

#include "support/OfflineEngine.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct Onset {
    std::int64_t frame;
    float level;
};

class MetronomeTest : public ::testing::Test {
protected:
    MetronomeTest() : metronome_(*offline_.engine, test::writeTestClick(folder_.path())) {}

    std::uint64_t renderedFrames() const { return device_->recorded().size() / 2; }
    void clickAt(std::uint64_t frame, bool accented = true) { metronome_.click(accented, device_->hostTimeOfFrame(frame)); }

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
    Metronome metronome_;
};

TEST_F(MetronomeTest, EachClickSoundsOnItsFrameADownbeatFullAnyOtherSofter) {
    clickAt(500);  // before the play begins: nothing
    metronome_.begin();
    clickAt(1480);
    clickAt(6280, false);
    clickAt(11'080);
    device_->renderFrames(15'000);
    const auto found = onsets();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].frame, 1480);
    EXPECT_EQ(found[1].frame, 6280);
    EXPECT_EQ(found[2].frame, 11'080);
    EXPECT_LT(std::abs(found[1].level), found[0].level);
    EXPECT_FLOAT_EQ(found[2].level, found[0].level);
}

// A click handed over at volume 0 stays silent; the volume set later is heard on the next.
TEST_F(MetronomeTest, VolumeZeroIsSilentAndAVolumeLaterIsHeard) {
    metronome_.setVolume(0);
    metronome_.begin();
    clickAt(1000);
    device_->renderFrames(4800);
    metronome_.setVolume(1);
    clickAt(6000);
    device_->renderFrames(4800);
    const auto found = onsets();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frame, 6000);
}

TEST_F(MetronomeTest, AStopDropsTheClicksHandedOverAndNoneSoundsAfter) {
    metronome_.begin();
    for (std::uint64_t frame = 1000; frame < 48'000; frame += 4800) clickAt(frame);
    device_->renderFrames(4800);
    metronome_.stop();
    clickAt(renderedFrames() + 100);
    device_->renderFrames(48'000);
    const auto found = onsets();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frame, 1000);
}

}  // namespace
}  // namespace kv

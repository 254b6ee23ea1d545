#include "audio/AudioEngine.h"
#include "audio/SoundFile.h"
#include "platform/audio/NullAudioDevice.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "playback/KeyvoraAudio.h"

#include "support/Eventually.h"
#include "support/OfflineEngine.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <future>
#include <numbers>

namespace kv {
namespace {

TEST(KeyvoraAudio, PlaysOnceStopsRewindsAndScalesItsVolume) {
    test::OfflineEngine rendering;
    auto* offline = rendering.device;
    AudioEngine& engine = *rendering.engine;
    auto sound = KeyvoraAudio::initWith("go", "wav", engine);
    ASSERT_TRUE(sound);
    EXPECT_GT(sound->getDuration(), 0.05);
    EXPECT_LE(sound->getDuration(), 0.35);
    EXPECT_FALSE(KeyvoraAudio::initWith("no-such-sound", "wav", engine));

    auto loudest = [&](std::size_t fromFrame) {
        float peak = 0;
        for (std::size_t i = fromFrame * 2; i < offline->recorded().size(); ++i) peak = std::max(peak, std::abs(offline->recorded()[i]));
        return peak;
    };
    const auto frames = static_cast<std::uint64_t>(sound->getDuration() * 48000);
    sound->play();
    sound->play();  // already playing: not doubled
    offline->renderFrames(frames + 512);
    const float full = loudest(0);
    EXPECT_GT(full, 0.5F);
    EXPECT_LT(full, 0.95F);
    EXPECT_EQ(loudest(frames + 256), 0.0F);  // played once

    sound->setVolume(0.5F);
    const auto second = offline->recorded().size() / 2;
    sound->stop();  // rewound: no wait for the engine to report the end
    sound->play();
    offline->renderFrames(frames + 512);
    EXPECT_NEAR(loudest(second), full * 0.5F, 0.01F);

    sound->play();
    offline->renderFrames(256);
    sound->stop();
    const auto stopped = offline->recorded().size() / 2 + 256;
    offline->renderFrames(frames);
    EXPECT_EQ(loudest(stopped), 0.0F);

    sound->play();
    offline->renderFrames(256);
    sound->stop();
    sound->play();  // at once, before the engine has reported the dropped buffer
    const auto replayed = offline->recorded().size() / 2;
    offline->renderFrames(frames);
    EXPECT_NEAR(loudest(replayed), full * 0.5F, 0.01F) << "stop then play replays from the start";

    for (int i = 0; i < 400; ++i) sound->playAt(PlayerNode::kAsSoonAsPossible, 1.0 / 48000);  // more than the player takes
    offline->renderFrames(frames + 8192);
    const auto afterRefusals = offline->recorded().size() / 2;
    test::eventually([&] {
        sound->play();
        offline->renderFrames(256);
        return loudest(afterRefusals) > 0.0F;
    });
    EXPECT_GT(loudest(afterRefusals), 0.0F) << "a refused sound is not waited for";
}

// A mono tone at 0.5 of a tenth of a second at the file's rate.
std::filesystem::path writeTone(const std::filesystem::path& folder, int fileRate, double hertz = 1000) {
    const auto path = folder / ("tone-" + std::to_string(fileRate) + "-" + std::to_string(hertz) + ".wav");
    SF_INFO info{};
    info.samplerate = fileRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::vector<float> samples(static_cast<std::size_t>(fileRate / 10));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.5F * static_cast<float>(std::sin(2 * std::numbers::pi * hertz * static_cast<double>(i) / fileRate));
    }
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return path;
}

// Whatever the file's rate, the tone keeps its length, pitch and level at the engine's; what the
// engine's rate cannot carry is filtered out, not folded down into a tone of its own.
TEST(SoundFile, AnotherRateIsResampledKeepingLengthPitchAndLevel) {
    test::TempDirectory folder;
    for (const int fileRate : {44'100, 48'000, 22'050, 96'000}) {
        const auto sound = readSoundFile(writeTone(folder.path(), fileRate), 48'000);
        ASSERT_TRUE(sound) << fileRate;
        EXPECT_NEAR(sound->frames(), 4800, 2) << fileRate;
        int rises = 0;
        float peak = 0;
        for (std::uint32_t frame = 1000; frame < 3400; ++frame) {  // 50 ms away from the edges
            const float left = sound->samples[frame * 2];
            rises += sound->samples[(frame - 1) * 2] < 0 && left >= 0;
            peak = std::max(peak, std::abs(left));
            ASSERT_EQ(left, sound->samples[frame * 2 + 1]) << "mono on both channels";
        }
        EXPECT_NEAR(rises, 50, 1) << fileRate << ": 1 kHz over 50 ms";
        EXPECT_NEAR(peak, 0.5F, 0.01F) << fileRate;
    }
    const auto high = readSoundFile(writeTone(folder.path(), 96'000, 30'000), 48'000);
    ASSERT_TRUE(high);
    float folded = 0;
    for (std::uint32_t frame = 1000; frame < 3400; ++frame) folded = std::max(folded, std::abs(high->samples[frame * 2]));
    EXPECT_LT(folded, 0.005F) << "30 kHz is above what 48 kHz carries";
    EXPECT_FALSE(readSoundFile(writeTone(folder.path(), 100), 48'000)) << "a rate 480 times below";
}

TEST(NullAudioDevice, KeepsTimeWithoutASoundCard) {
    AudioEngine engine(std::make_unique<NullAudioDevice>());
    ASSERT_TRUE(engine.start());
    auto player = engine.makePlayerNode();
    engine.connect(player, engine.mainMixerNode());
    auto buffer = std::make_shared<AudioBuffer>();
    buffer->samples.assign(96, 0.5F);
    std::promise<std::uint64_t> played;
    const std::uint64_t at = engine.now() + 100'000'000;  // 100 ms from now
    player->scheduleBuffer(buffer, at, [&](bool, std::uint64_t startedAt) { played.set_value(startedAt); });
    auto result = played.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_NEAR(static_cast<double>(result.get()), static_cast<double>(at), 1e5);  // within 0.1 ms
}

}  // namespace
}  // namespace kv

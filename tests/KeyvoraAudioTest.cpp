#include "audio/AudioEngine.h"
#include "platform/audio/NullAudioDevice.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "playback/KeyvoraAudio.h"

#include "support/Eventually.h"
#include "support/OfflineEngine.h"

#include <gtest/gtest.h>

#include <future>

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

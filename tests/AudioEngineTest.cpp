#include "audio/AudioEngine.h"
#include "audio/AudioOutputKeeper.h"
#include "base/HostClock.h"
#include "platform/audio/NullAudioDevice.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "playback/SoundSystem.h"

#include "support/Eventually.h"
#include "support/OfflineEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <mutex>
#include <random>
#include <thread>

namespace kv {
namespace {

class OfflineEngine : public ::testing::Test {
protected:
    static std::shared_ptr<const AudioBuffer> constant(float value, std::uint32_t frames) {
        auto buffer = std::make_shared<AudioBuffer>();
        buffer->samples.assign(static_cast<std::size_t>(frames) * 2, value);
        return buffer;
    }

    // The first frame whose left sample is not zero.
    std::int64_t firstSound(std::size_t fromFrame = 0) const {
        const auto& samples = device_->recorded();
        for (std::size_t frame = fromFrame; frame * 2 < samples.size(); ++frame) {
            if (samples[frame * 2] != 0.0F) return static_cast<std::int64_t>(frame);
        }
        return -1;
    }

    test::OfflineEngine offline_;
    OfflineAudioDevice* device_ = offline_.device;
    std::unique_ptr<AudioEngine>& engine_ = offline_.engine;
};

TEST_F(OfflineEngine, ABufferStartsOnTheExactFrameOfItsHostTime) {
    auto player = engine_->makePlayerNode();
    engine_->connect(player, engine_->mainMixerNode());
    std::promise<std::uint64_t> started;
    const std::uint64_t at = device_->hostTimeOfFrame(777);
    player->scheduleBuffer(constant(0.5F, 100), at, [&](bool played, std::uint64_t startedAt) {
        EXPECT_TRUE(played);
        started.set_value(startedAt);
    });
    device_->renderFrames(2048);
    EXPECT_EQ(firstSound(), 777);
    EXPECT_EQ(device_->recorded()[876 * 2], 0.5F);
    EXPECT_EQ(device_->recorded()[877 * 2], 0.0F);
    auto startedAt = started.get_future();
    ASSERT_EQ(startedAt.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_NEAR(static_cast<double>(startedAt.get()), static_cast<double>(at), 1.0);
}

TEST_F(OfflineEngine, GainsMultiplyAndTheLimiterKeepsTheOutputWithinOne) {
    auto mixer = std::make_shared<MixerNode>();
    mixer->setOutputVolume(0.5F);
    auto player = engine_->makePlayerNode();
    player->setVolume(0.5F);
    engine_->connect(player, mixer);
    engine_->connect(mixer, engine_->mainMixerNode());
    player->scheduleBuffer(constant(0.8F, 64), PlayerNode::kAsSoonAsPossible);
    device_->renderFrames(256);
    EXPECT_FLOAT_EQ(device_->recorded()[0], 0.2F);

    auto loud = engine_->makePlayerNode();
    engine_->connect(loud, engine_->mainMixerNode());
    loud->scheduleBuffer(constant(3.0F, 48000), PlayerNode::kAsSoonAsPossible);
    device_->renderFrames(48000);
    float peak = 0;
    for (const float sample : device_->recorded()) peak = std::max(peak, std::abs(sample));
    EXPECT_LE(peak, 1.0F);
    EXPECT_GT(peak, 0.9F);
}

TEST_F(OfflineEngine, AStopDropsWhatWasScheduledAndADetachedNodeFallsSilent) {
    auto player = engine_->makePlayerNode();
    engine_->connect(player, engine_->mainMixerNode());
    std::atomic<int> dropped{0};
    player->scheduleBuffer(constant(0.5F, 10), device_->hostTimeOfFrame(1000), [&](bool played, std::uint64_t) {
        if (!played) ++dropped;
    });
    player->stop();
    device_->renderFrames(2048);
    EXPECT_EQ(firstSound(), -1);

    player->scheduleBuffer(constant(0.5F, 48000), PlayerNode::kAsSoonAsPossible);
    device_->renderFrames(256);
    engine_->disconnect(player, engine_->mainMixerNode());
    device_->renderFrames(256);
    EXPECT_EQ(firstSound(2048 + 256), -1);
    EXPECT_TRUE(test::eventually([&] { return dropped == 1; }));
}

// A full queue refuses a buffer, never a stop: every waiting buffer is dropped and none sounds.
TEST_F(OfflineEngine, AStopReachesEveryBufferHoweverManyWait) {
    auto player = engine_->makePlayerNode();
    engine_->connect(player, engine_->mainMixerNode());
    std::atomic<int> dropped{0};
    int accepted = 0;
    for (int i = 0; i < 400; ++i) {
        accepted += player->scheduleBuffer(constant(0.5F, 10), device_->hostTimeOfFrame(4000), [&](bool played, std::uint64_t) {
            if (!played) ++dropped;
        });
    }
    ASSERT_LT(accepted, 400) << "the queue was not full";
    device_->renderFrames(256);  // the first ones are taken in, the rest still queued
    player->stop();
    device_->renderFrames(8192);
    EXPECT_EQ(firstSound(), -1);
    EXPECT_TRUE(test::eventually([&] { return dropped == accepted; })) << dropped << " of " << accepted;
}

// Two threads change the graph while the null device's own thread renders it: every buffer's
// handler runs once, every node taken out is released, and rendering never stops.
TEST(AudioEngineGraph, NodesComeAndGoWhileARealThreadRenders) {
    AudioEngine engine(std::make_unique<NullAudioDevice>());
    ASSERT_TRUE(engine.start());
    std::atomic<int> scheduled{0}, finished{0};
    std::vector<std::weak_ptr<AudioNode>> gone;
    std::mutex goneMutex;
    auto churn = [&](unsigned seed) {
        std::mt19937 random(seed);
        for (int round = 0; round < 150; ++round) {
            auto mixer = std::make_shared<MixerNode>();
            auto player = engine.makePlayerNode();
            engine.connect(mixer, engine.mainMixerNode());
            engine.connect(player, mixer);
            for (int i = 0; i < 3; ++i) {
                auto buffer = std::make_shared<AudioBuffer>();
                buffer->samples.assign(2 * (1 + random() % 2000), 0.1F);
                if (player->scheduleBuffer(std::move(buffer), engine.now() + random() % 3'000'000,
                                           [&](bool, std::uint64_t) { ++finished; })) {
                    ++scheduled;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
            if (random() % 2) engine.disconnect(player, mixer);  // else it goes with its mixer
            engine.disconnect(mixer, engine.mainMixerNode());
            const std::lock_guard lock(goneMutex);
            gone.emplace_back(mixer);
            gone.emplace_back(player);
        }
    };
    const auto before = engine.deviceState().framesRendered;
    std::thread other(churn, 1);
    churn(2);
    other.join();
    EXPECT_TRUE(test::eventually([&] { return finished == scheduled; })) << "a handler was lost";
    EXPECT_EQ(finished, scheduled) << "a handler ran twice";
    EXPECT_TRUE(test::eventually([&] { return std::all_of(gone.begin(), gone.end(), [](const auto& node) { return node.expired(); }); }))
        << "the engine still holds a disconnected node";
    EXPECT_GT(engine.deviceState().framesRendered, before) << "rendering stopped";
    engine.stop();
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// An output the test plays the sound system of: it renders when told, and loses its stream.
class FakeOutput : public AudioDevice {
public:
    explicit FakeOutput(std::shared_ptr<std::atomic<bool>> healthy) : healthy_(std::move(healthy)) {}
    bool open(Render render) override {
        render_ = std::move(render);
        return true;
    }
    bool start() override { return true; }
    void stop() override { render_ = nullptr; }
    bool isOpen() const { return static_cast<bool>(render_); }
    bool healthy() const override { return *healthy_; }
    double sampleRate() const override { return 48000; }
    double outputLatencySeconds() const override { return 0; }
    std::string name() const override { return "fake"; }

    void renderFrames(std::uint32_t frames) {
        std::vector<float> output(static_cast<std::size_t>(frames) * 2);
        render_(output.data(), frames, host_clock::now());
    }

private:
    std::shared_ptr<std::atomic<bool>> healthy_;
    Render render_;
};

TEST(AudioOutputKeeper, ALostOutputMovesTheEngineToTheNullDeviceUntilOneOpensAgain) {
    auto healthy = std::make_shared<std::atomic<bool>>(true);
    FakeOutput* current = nullptr;
    auto makeOutput = [&] {
        auto output = std::make_unique<FakeOutput>(healthy);
        current = output.get();
        return output;
    };
    AudioEngine engine(makeOutput());
    ASSERT_TRUE(engine.start());
    bool offered = false;
    AudioOutputKeeper keeper(engine, [&]() -> std::unique_ptr<AudioDevice> {
        if (!offered) return nullptr;
        return makeOutput();
    });
    EXPECT_EQ(keeper.check().kind, AudioOutputKeeper::Change::kNone);

    *healthy = false;  // the server closed the stream
    const auto lost = keeper.check();
    EXPECT_EQ(lost.kind, AudioOutputKeeper::Change::kLost);
    EXPECT_EQ(lost.detail, "fake: the system closed it");
    EXPECT_EQ(engine.deviceState().name, "null");
    EXPECT_EQ(keeper.check().kind, AudioOutputKeeper::Change::kNone) << "nothing to open yet";

    *healthy = true;
    offered = true;
    const auto back = keeper.check();
    EXPECT_EQ(back.kind, AudioOutputKeeper::Change::kBack);
    EXPECT_EQ(engine.deviceState().name, "fake");

    // A sound server that went away without a word: its library renders as fast as it can.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    for (int i = 0; i < 100; ++i) current->renderFrames(4096);
    EXPECT_EQ(keeper.check().detail, "fake: it renders faster than it can play");
    EXPECT_EQ(keeper.check().kind, AudioOutputKeeper::Change::kBack);

    // Or stops calling back at all.
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    EXPECT_EQ(keeper.check().detail, "fake: it stopped calling back");
    EXPECT_EQ(engine.deviceState().name, "null");
}

// An output nothing needs closes once nothing has sounded for the quiet time, and opens again
// as soon as it is needed.
TEST(SoundSystem, AnOutputNothingNeedsClosesOnceQuietAndOpensWhenNeeded) {
    using namespace std::chrono_literals;
    auto owned = std::make_unique<FakeOutput>(std::make_shared<std::atomic<bool>>(true));
    FakeOutput* output = owned.get();
    auto engine = std::make_unique<AudioEngine>(std::move(owned));
    ASSERT_TRUE(engine->start());
    SoundSystem sound(std::move(engine), {}, SoundSystem::standardSoundFont(), 300ms);
    ASSERT_TRUE(sound.synthesizer());
    sound.synthesizer()->send(0x90, 0, 60, 100);
    const std::uint64_t heard = host_clock::now();
    output->renderFrames(256);
    ASSERT_GE(sound.engine().lastAudible(), heard);

    ASSERT_TRUE(test::eventually([&] {
        sound.restUnlessNeeded(false);
        return sound.resting();
    }));
    EXPECT_GE(host_clock::now() - sound.engine().lastAudible(), 300'000'000u) << "closed before the quiet time";
    EXPECT_FALSE(output->isOpen());
    sound.restUnlessNeeded(true);
    EXPECT_TRUE(output->isOpen());
    EXPECT_TRUE(sound.engine().isRunning());
    sound.restUnlessNeeded(false);
    EXPECT_FALSE(sound.resting()) << "a woken output gets its quiet time too";
}

}  // namespace
}  // namespace kv

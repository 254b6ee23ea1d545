#include "platform/midi/MidiByteRing.h"
#include "platform/midi/MidiCycleReader.h"

#include <gtest/gtest.h>

#include <thread>

namespace kv {
namespace {

using Message = std::vector<unsigned char>;

Message messageOf(std::size_t size, unsigned seed) {
    Message message(size);
    for (std::size_t i = 0; i < size; ++i) message[i] = static_cast<unsigned char>(seed + i * 7);
    return message;
}

std::vector<std::pair<Message, std::uint64_t>> drain(MidiByteRing& ring) {
    std::vector<std::pair<Message, std::uint64_t>> popped;
    Message message;
    std::uint64_t arrival = 0;
    while (ring.pop(message, arrival)) popped.emplace_back(message, arrival);
    return popped;
}

TEST(MidiByteRing, MessagesWrapAroundTheEndWholeAndInOrderAndWhatDoesNotFitIsRefused) {
    MidiByteRing ring(64);
    for (unsigned round = 0; round < 50; ++round) {
        const auto first = messageOf(3 + round % 20, round);
        const auto second = messageOf(1 + round % 7, round + 100);
        ASSERT_TRUE(ring.push(first.data(), first.size(), round));
        ASSERT_TRUE(ring.push(second.data(), second.size(), ~std::uint64_t{round}));
        ASSERT_EQ(drain(ring), (std::vector<std::pair<Message, std::uint64_t>>{{first, round}, {second, ~std::uint64_t{round}}}));
    }
    const auto small = messageOf(20, 1);
    const auto large = messageOf(40, 2);
    ASSERT_TRUE(ring.push(small.data(), small.size(), 1));
    EXPECT_FALSE(ring.push(large.data(), large.size(), 2)) << "36 + 56 bytes do not fit in 64";
    EXPECT_TRUE(ring.push(nullptr, 0, 3));
    EXPECT_EQ(drain(ring), (std::vector<std::pair<Message, std::uint64_t>>{{small, 1}, {{}, 3}}));
    EXPECT_TRUE(ring.push(large.data(), large.size(), 4));
}

TEST(MidiByteRing, AWriterAndAReaderOnTwoThreadsLoseAndTearNothing) {
    MidiByteRing ring(std::size_t{1} << 16);
    constexpr unsigned kMessages = 200000;
    std::thread writer([&] {
        for (unsigned i = 0; i < kMessages; ++i) {
            const auto message = messageOf(i % 1000 == 0 ? 30000 : 3, i);
            while (!ring.push(message.data(), message.size(), i)) std::this_thread::yield();
        }
    });
    Message out;
    std::uint64_t arrival = 0;
    for (unsigned i = 0; i < kMessages;) {
        if (!ring.pop(out, arrival)) continue;
        ASSERT_EQ(out, messageOf(i % 1000 == 0 ? 30000 : 3, i)) << i;
        ASSERT_EQ(arrival, i);
        ++i;
    }
    writer.join();
}

// A JACK port buffer as the server shows it, which the test rewrites as the next cycle's sender
// would once the reader has read a given number of events.
class FakeCycle : public MidiCycle {
public:
    std::uint32_t frameTime() override { return rewriteIfDue(), frame; }
    std::uint32_t eventCount() override { return rewriteIfDue(), static_cast<std::uint32_t>(events.size()); }
    bool event(std::uint32_t index, const unsigned char*& bytes, std::size_t& size) override {
        rewriteIfDue();
        ++read;
        if (index >= events.size()) return false;
        bytes = events[index].data();
        size = events[index].size();
        return true;
    }
    void rewriteIfDue() {
        if (!rewriteAfter || read < *rewriteAfter) return;
        frame += 64;
        events = nextCycle;
        rewriteAfter.reset();
    }

    std::uint32_t frame = 6400;
    std::vector<Message> events;
    std::vector<Message> nextCycle;
    std::optional<std::size_t> rewriteAfter;  // events read
    std::size_t read = 0;
};

std::vector<Message> burst(int count, unsigned seed) {
    std::vector<Message> events;
    for (int i = 0; i < count; ++i) {
        events.push_back({0xF0, 0x4D, 0x4C, 0x4C, 0x45, static_cast<unsigned char>(21 + i % 88), static_cast<unsigned char>(seed), 0xF7});
    }
    return events;
}

// What a late reader finds: the buffer emptied after its first event, or filled with the next
// cycle's events while it reads, or after it read them all. The library's reader hands on the
// first event over and over; here a read passes only whole.
TEST(MidiCycleReader, AReadPassesOnlyWhole) {
    struct Case {
        const char* what;
        std::optional<std::size_t> rewriteAfter;
        std::vector<Message> nextCycle;
    };
    const std::vector<Case> cases = {
        {"read in its cycle", std::nullopt, {}},
        {"emptied after the first event", 1, {}},
        {"rewritten with as many other events", 100, burst(176, 2)},
        {"rewritten after the last event", 176, burst(3, 3)},
    };
    for (const auto& [what, rewriteAfter, nextCycle] : cases) {
        MidiCycleReader reader;
        MidiByteRing ring(std::size_t{1} << 16);
        FakeCycle cycle;
        EXPECT_EQ(reader.read(cycle, 1, ring), 0u) << "an empty cycle before";
        cycle.frame += 64;
        cycle.events = burst(176, 1);
        cycle.nextCycle = nextCycle;
        cycle.rewriteAfter = rewriteAfter;
        const std::size_t queued = reader.read(cycle, 7, ring);
        const auto popped = drain(ring);
        EXPECT_EQ(queued, rewriteAfter ? 0u : 176u) << what;
        EXPECT_EQ(reader.lost(), rewriteAfter ? 176u : 0u) << what;
        for (std::size_t i = 0; i < popped.size(); ++i) EXPECT_EQ(popped[i], std::make_pair(burst(176, 1)[i], std::uint64_t{7})) << what;
        cycle.frame += 64;
        cycle.events = burst(2, 4);
        EXPECT_EQ(reader.read(cycle, 9, ring), 2u) << what << ": the next cycle passes";
    }
}

TEST(MidiCycleReader, MessagesTheRingHasNoRoomForAreCountedLost) {
    MidiCycleReader reader;
    MidiByteRing ring(256);
    FakeCycle cycle;
    cycle.events = burst(20, 1);
    const std::size_t queued = reader.read(cycle, 1, ring);
    EXPECT_GT(queued, 0u);
    EXPECT_EQ(drain(ring).size(), queued);
    EXPECT_EQ(queued + reader.lost(), 20u);
}

}  // namespace
}  // namespace kv

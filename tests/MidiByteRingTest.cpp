#include "platform/midi/MidiByteRing.h"

#include <gtest/gtest.h>

#include <thread>

namespace kv {
namespace {

std::vector<unsigned char> messageOf(std::size_t size, unsigned seed) {
    std::vector<unsigned char> message(size);
    for (std::size_t i = 0; i < size; ++i) message[i] = static_cast<unsigned char>(seed + i * 7);
    return message;
}

TEST(MidiByteRing, MessagesWrapAroundTheEndWholeAndInOrder) {
    MidiByteRing ring(64);
    std::vector<unsigned char> out;
    for (unsigned round = 0; round < 50; ++round) {
        const auto first = messageOf(3 + round % 20, round);
        const auto second = messageOf(1 + round % 7, round + 100);
        ASSERT_TRUE(ring.push(first.data(), first.size(), round));
        ASSERT_TRUE(ring.push(second.data(), second.size(), ~std::uint64_t{round}));
        std::uint64_t arrival = 0;
        ASSERT_TRUE(ring.pop(out, arrival));
        EXPECT_EQ(out, first);
        EXPECT_EQ(arrival, round) << "each message keeps its own arrival time";
        ASSERT_TRUE(ring.pop(out, arrival));
        EXPECT_EQ(out, second);
        EXPECT_EQ(arrival, ~std::uint64_t{round});
    }
    std::uint64_t arrival = 0;
    EXPECT_FALSE(ring.pop(out, arrival));
}

TEST(MidiByteRing, AMessageThatDoesNotFitIsRefusedAndNothingElseIsHurt) {
    MidiByteRing ring(64);
    const auto small = messageOf(20, 1);
    ASSERT_TRUE(ring.push(small.data(), small.size(), 1));
    const auto large = messageOf(40, 2);
    EXPECT_FALSE(ring.push(large.data(), large.size(), 2)) << "36 + 56 bytes do not fit in 64";
    const auto empty = messageOf(0, 0);
    EXPECT_TRUE(ring.push(empty.data(), 0, 3));
    std::vector<unsigned char> out;
    std::uint64_t arrival = 0;
    ASSERT_TRUE(ring.pop(out, arrival));
    EXPECT_EQ(out, small);
    ASSERT_TRUE(ring.pop(out, arrival));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(arrival, 3u);
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
    std::vector<unsigned char> out;
    std::uint64_t arrival = 0;
    for (unsigned i = 0; i < kMessages;) {
        if (!ring.pop(out, arrival)) continue;
        ASSERT_EQ(out, messageOf(i % 1000 == 0 ? 30000 : 3, i)) << i;
        ASSERT_EQ(arrival, i);
        ++i;
    }
    writer.join();
}

}  // namespace
}  // namespace kv

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
        ASSERT_TRUE(ring.push(first.data(), first.size()));
        ASSERT_TRUE(ring.push(second.data(), second.size()));
        ASSERT_TRUE(ring.pop(out));
        EXPECT_EQ(out, first);
        ASSERT_TRUE(ring.pop(out));
        EXPECT_EQ(out, second);
    }
    EXPECT_FALSE(ring.pop(out));
}

TEST(MidiByteRing, AMessageThatDoesNotFitIsRefusedAndNothingElseIsHurt) {
    MidiByteRing ring(64);
    const auto small = messageOf(20, 1);
    ASSERT_TRUE(ring.push(small.data(), small.size()));
    const auto large = messageOf(40, 2);
    EXPECT_FALSE(ring.push(large.data(), large.size())) << "24 + 44 bytes do not fit in 64";
    const auto empty = messageOf(0, 0);
    EXPECT_TRUE(ring.push(empty.data(), 0));
    std::vector<unsigned char> out;
    ASSERT_TRUE(ring.pop(out));
    EXPECT_EQ(out, small);
    ASSERT_TRUE(ring.pop(out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(ring.push(large.data(), large.size()));
}

TEST(MidiByteRing, AWriterAndAReaderOnTwoThreadsLoseAndTearNothing) {
    MidiByteRing ring(std::size_t{1} << 16);
    constexpr unsigned kMessages = 200000;
    std::thread writer([&] {
        for (unsigned i = 0; i < kMessages; ++i) {
            const auto message = messageOf(i % 1000 == 0 ? 30000 : 3, i);
            while (!ring.push(message.data(), message.size())) std::this_thread::yield();
        }
    });
    std::vector<unsigned char> out;
    for (unsigned i = 0; i < kMessages;) {
        if (!ring.pop(out)) continue;
        ASSERT_EQ(out, messageOf(i % 1000 == 0 ? 30000 : 3, i)) << i;
        ++i;
    }
    writer.join();
}

}  // namespace
}  // namespace kv

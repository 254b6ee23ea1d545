#include "core/CacheCipher.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

namespace kv {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(CacheCipher, BuffersOfEveryLengthRoundTripInWholeBlocks) {
    std::mt19937 random(7);
    for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 255u, 100000u}) {
        Bytes plain(size);
        for (auto& byte : plain) byte = static_cast<std::uint8_t>(random());
        const auto cipher = encryptData(plain);
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), (size / 16 + 1) * 16);
        EXPECT_EQ(decryptData(*cipher), plain) << size;
    }
}

TEST(CacheCipher, WhatIsNoCipherTextOrNoKeyGivesNothing) {
    const auto cipher = *encryptData(bytesOf("some cached score"));
    EXPECT_FALSE(decryptData(Bytes(cipher.begin(), cipher.end() - 1)));
    EXPECT_FALSE(decryptData(Bytes(15, 0)));
    EXPECT_FALSE(cryptWithOperation(CryptOperation::kEncrypt, Bytes(32, 0), "0123456789abcdefX", ""));
}

// Files cached by earlier editions must open: the openssl command line, keyed with "58203617"
// and eight zero bytes in ECB mode, agrees.
TEST(CacheCipher, MatchesOpensslOnAKnownVector) {
    test::TempDirectory folder;
    const auto input = folder.path() / "plain.bin";
    const auto output = folder.path() / "cipher.bin";
    const std::string text = "The quick brown fox jumps over the lazy dog, the quick brown fox";
    std::ofstream(input, std::ios::binary) << text;
    ASSERT_EQ(std::system(("openssl enc -aes-128-ecb -K 35383230333631370000000000000000 -in " + input.string() +
                           " -out " + output.string()).c_str()), 0);
    std::ifstream file(output, std::ios::binary);
    const Bytes expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(encryptData(bytesOf(text)), expected);
}

}  // namespace
}  // namespace kv

#include "core/CacheCipher.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace kv {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(CacheCipher, EmptyInputIsOneBlockOfPadding) {
    const auto cipher = encryptData({});
    ASSERT_TRUE(cipher);
    EXPECT_EQ(cipher->size(), 16u);
    const auto plain = decryptData(*cipher);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->empty());
}

TEST(CacheCipher, EqualPlainBlocksGiveEqualCipherBlocks) {
    const Bytes plain = bytesOf("0123456789abcdef0123456789abcdef");
    const auto cipher = encryptData(plain);
    ASSERT_TRUE(cipher);
    ASSERT_EQ(cipher->size(), 48u);
    EXPECT_TRUE(std::equal(cipher->begin(), cipher->begin() + 16, cipher->begin() + 16));
    EXPECT_FALSE(std::equal(cipher->begin(), cipher->begin() + 16, cipher->begin() + 32));
}

TEST(CacheCipher, WrongLengthOrPaddingGivesNothing) {
    auto cipher = *encryptData(bytesOf("some cached score"));
    EXPECT_FALSE(decryptData(Bytes(cipher.begin(), cipher.end() - 1)));
    EXPECT_FALSE(decryptData(Bytes(15, 0)));
    Bytes zeros(32, 0);
    const auto undone = decryptData(zeros);
    // Sixteen zero bytes decipher to some block whose last byte is a valid pad only by chance.
    if (undone) {
        EXPECT_LE(undone->size(), 31u);
    }
    // A key that does not fit 16 bytes has no AES-128 key.
    EXPECT_FALSE(cryptWithOperation(CryptOperation::kEncrypt, zeros, "0123456789abcdefX", ""));
}

TEST(CacheCipher, RandomBuffersRoundTrip) {
    std::mt19937 random(7);
    for (std::size_t size : {1u, 15u, 16u, 17u, 255u, 4096u, 100000u}) {
        Bytes plain(size);
        for (auto& byte : plain) byte = static_cast<std::uint8_t>(random());
        const auto cipher = encryptData(plain);
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), (size / 16 + 1) * 16);
        EXPECT_EQ(decryptData(*cipher), plain) << size;
    }
}

// The openssl command line, keyed with "58203617" and eight zero bytes, must agree.
TEST(CacheCipher, MatchesOpensslOnAKnownVector) {
    test::TempDirectory folder;
    const auto input = folder.path() / "plain.bin";
    const auto output = folder.path() / "cipher.bin";
    std::ofstream(input, std::ios::binary) << "The quick brown fox jumps over the lazy dog";
    const std::string command = "openssl enc -aes-128-ecb -K 35383230333631370000000000000000 -in " +
                                input.string() + " -out " + output.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream file(output, std::ios::binary);
    const Bytes expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(encryptData(bytesOf("The quick brown fox jumps over the lazy dog")), expected);
}

}  // namespace
}  // namespace kv

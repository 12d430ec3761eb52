#include "support/crc32.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace support;

namespace {

TEST(Crc32, KnownChecksums) {
    EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    const char quick[] = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(Crc32(quick, std::strlen(quick)), 0x414FA339u);
}

TEST(Crc32, PiecesGiveTheChecksumOfTheWhole) {
    const char text[] = "The quick brown fox jumps over the lazy dog";
    const size_t length = std::strlen(text);
    EXPECT_EQ(Crc32Update(text, length, 0), Crc32(text, length));
    for (size_t split : {size_t{0}, size_t{1}, size_t{20}, length}) {
        const uint32_t first = Crc32Update(text, split, 0);
        EXPECT_EQ(Crc32Update(text + split, length - split, first), Crc32(text, length)) << split;
    }
}

}  // namespace

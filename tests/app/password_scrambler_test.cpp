#include "app/password_scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace app;

namespace {

const PasswordScrambler scrambler;

std::vector<uint8_t> Scrambled(const char* text) {
    std::vector<uint8_t> out(std::strlen(text) + 1, 0xEE);
    scrambler.Scramble(text, reinterpret_cast<char*>(out.data()));
    return out;
}

TEST(PasswordScramblerTest, EachByteIsCombinedWithTheKeyByteOfItsPosition) {
    const char text[] = "tamarind-HarborLantern";
    const std::vector<uint8_t> out = Scrambled(text);
    ASSERT_EQ(out.size(), sizeof text);
    for (size_t p = 0; p + 1 < sizeof text; ++p)
        EXPECT_EQ(out[p], static_cast<uint8_t>(text[p]) ^ kScramblingKey[p % 8]) << "position " << p;
    EXPECT_EQ(out.back(), 0) << "the terminating zero";
}

// Stored passwords depend on these exact bytes: a changed key would make every stored password
// unreadable.
TEST(PasswordScramblerTest, StoredFormOfTheDefaultPasswordsIsFixed) {
    EXPECT_EQ(Scrambled("tamarind"), (std::vector<uint8_t>{0x2E, 0xA2, 0x73, 0xF6, 0x19, 0xBD, 0x46, 0x95, 0}));
    EXPECT_EQ(Scrambled("HarborLantern"), (std::vector<uint8_t>{0x12, 0xA2, 0x6C, 0xF5, 0x04, 0xA6, 0x64, 0x90, 0x34,
                                                                0xB7, 0x7B, 0xE5, 0x05, 0}));
}

TEST(PasswordScramblerTest, EmptyTextWritesOnlyTheZero) {
    EXPECT_EQ(Scrambled(""), std::vector<uint8_t>{0});
}

TEST(PasswordScramblerTest, PositionsEightApartShareTheirKeyByte) {
    const std::vector<uint8_t> out = Scrambled("xxxxxxxxx");
    EXPECT_EQ(out[0], out[8]);
    EXPECT_NE(out[0], out[1]) << "neighbouring key bytes differ";
}

TEST(PasswordScramblerTest, CountedFormUndoesScrambleEvenThroughZeroBytes) {
    // The plain byte equal to its key byte scrambles to zero; the counted form must not stop there.
    const char text[] = {'a', static_cast<char>(kScramblingKey[1]), 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0};
    const std::vector<uint8_t> scrambled = Scrambled(text);
    ASSERT_EQ(scrambled[1], 0);
    std::vector<uint8_t> plain(sizeof text, 0xEE);
    scrambler.ScrambleCounted(scrambled.data(), plain.data(), static_cast<int32_t>(std::strlen(text)));
    EXPECT_EQ(0, std::memcmp(plain.data(), text, sizeof text));
}

TEST(PasswordScramblerTest, CountedFormKeepsTheLengthAndIgnoresNonPositiveCounts) {
    std::vector<uint8_t> out(10, 0xEE);
    scrambler.ScrambleCounted("tamarind", out.data(), 8);
    EXPECT_EQ(out[8], 0);
    EXPECT_EQ(out[9], 0xEE) << "nothing past length + 1";
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 9), Scrambled("tamarind"));

    for (int32_t n : {0, -5}) {
        std::vector<uint8_t> only(3, 0xEE);
        scrambler.ScrambleCounted("abc", only.data(), n);
        EXPECT_EQ(only, (std::vector<uint8_t>{0, 0xEE, 0xEE})) << "count " << n;
    }
}

TEST(PasswordScramblerTest, InPlaceFormsUseTheSingleKeyByteAndUndoEachOther) {
    uint8_t bytes[] = {0x00, 0x41, kScramblingByteKey, 0xFF};
    scrambler.MaskInPlace(bytes, 4);
    EXPECT_EQ(bytes[0], kScramblingByteKey);
    EXPECT_EQ(bytes[1], 0x41 ^ kScramblingByteKey);
    EXPECT_EQ(bytes[2], 0);
    scrambler.UnmaskInPlace(bytes, 4);
    EXPECT_EQ(bytes[1], 0x41);
    EXPECT_EQ(bytes[3], 0xFF);
    scrambler.MaskInPlace(bytes, 0);
    EXPECT_EQ(bytes[0], 0x00);
}

}  // namespace

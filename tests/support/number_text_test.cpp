#include "support/number_text.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace support;

namespace {

TEST(UIntToHex8, WritesEightLowerCaseDigitsAndReturnsTheEnd) {
    char text[kIdentifierTextSize];
    EXPECT_EQ(UIntToHex8(42, text), text + 8);
    EXPECT_STREQ(text, "0000002a");
    UIntToHex8(4294967295u, text);
    EXPECT_STREQ(text, "ffffffff");
    UIntToHex8(0, text);
    EXPECT_STREQ(text, "00000000");
}

struct HexCase {
    const char* text;
    uint32_t value;
};

class HexToUIntTable : public testing::TestWithParam<HexCase> {};

TEST_P(HexToUIntTable, ReadsWithoutRejectingAnything) { EXPECT_EQ(HexToUInt(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Cases, HexToUIntTable,
                         testing::Values(HexCase{"", 0u}, HexCase{"ffffffff", 4294967295u},
                                         HexCase{"0000002a", 42u}, HexCase{"2A", 42u}, HexCase{"2a", 42u},
                                         HexCase{"123456789", 0x23456789u},  // the last eight digits count
                                         HexCase{"g", 16u},
                                         HexCase{"Bob", (11u << 8) | (24u << 4) | 11u},
                                         // A character below '0' gives a negative digit, whose
                                         // high bits reach the result.
                                         HexCase{" ", 0xFFFFFFF0u},
                                         HexCase{"\xff", 0xFFFFFFCFu}));

}  // namespace

namespace {

TEST(HexToUInt64, SixtyFourBitsTimesSixteenPlusDigit) {
    EXPECT_EQ(HexToUInt64("ffffffffffffffff"), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(HexToUInt64("123456789"), 0x123456789ull);
    EXPECT_EQ(HexToUInt64("1A"), 26u);
    EXPECT_EQ(HexToUInt64("g"), 16u);
    EXPECT_EQ(HexToUInt64("1 "), 0u);  // 1 * 16 + (32 - 48)
    EXPECT_EQ(HexToUInt64(""), 0u);
    EXPECT_EQ(HexToUInt(nullptr), 0u);
}

TEST(GroupedDecimal, CommaBeforeEveryGroupOfThree) {
    struct Case {
        uint64_t value;
        const char* text;
    };
    const Case cases[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"},
                          {4294967295u, "4,294,967,295"}};
    for (const Case& c : cases) {
        char out[kGroupedDecimalSize];
        EXPECT_EQ(GroupedDecimal(static_cast<uint32_t>(c.value), out, sizeof out),
                  static_cast<int32_t>(std::strlen(c.text)));
        EXPECT_STREQ(out, c.text);
    }
    char wide[kGroupedDecimal64Size];
    EXPECT_EQ(GroupedDecimal64(18446744073709551615ull, wide, sizeof wide), 26);
    EXPECT_STREQ(wide, "18,446,744,073,709,551,615");
}

TEST(GroupedDecimal, RefusesABufferTooSmall) {
    char out[5] = "xxxx";  // room for "1,000" but not for its zero
    EXPECT_EQ(GroupedDecimal(1000, out, sizeof out), -1);
    EXPECT_STREQ(out, "");
    char fits[6];
    EXPECT_EQ(GroupedDecimal(1000, fits, sizeof fits), 5);
}

TEST(IpText, BothWays) {
    const uint8_t loopback[4] = {127, 0, 0, 1};
    uint32_t address;
    std::memcpy(&address, loopback, sizeof address);
    char out[kIpPortTextSize];
    EXPECT_EQ(IpToText(address, out, kIpTextSize), 9);
    EXPECT_STREQ(out, "127.0.0.1");
    EXPECT_EQ(TextToIp(out), address);
    EXPECT_EQ(IpPortToText(0xFFFFFFFFu, 4294967295u, out, sizeof out), 26);
    EXPECT_STREQ(out, "255.255.255.255:4294967295");
    EXPECT_EQ(IpToText(0xFFFFFFFFu, out, kIpTextSize - 1), -1);
}

TEST(IpText, TextToIpIgnoresOtherCharactersAndDoesNotCheckRanges) {
    EXPECT_EQ(TextToIp("10.x1.2"), 10u | (1u << 8) | (2u << 16));
    EXPECT_EQ(TextToIp("256.0.0.0"), 0x100u);     // spills into the next byte
    EXPECT_EQ(TextToIp("1.2.3.4.5"), 0x04030201u);  // a fifth field is not read
    EXPECT_EQ(TextToIp(""), 0u);
}

}  // namespace

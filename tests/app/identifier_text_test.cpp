#include "app/identifier_text.h"

#include <gtest/gtest.h>

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

#include "support/date_time_converter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "time_settings_scope.h"

using namespace support;

namespace {

using testing_support::TimeSettingsScope;

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;

uint64_t FileTimeOfUnix(int64_t seconds) {
    return (static_cast<uint64_t>(seconds) + kSecondsFrom1601To1970) * kTicksPerSecond;
}

constexpr int64_t kUnix20010203040506 = 981173106;  // 2001-02-03 04:05:06 UTC
constexpr int64_t kUnix20100715120000 = 1279195200;  // 2010-07-15 12:00:00 UTC

// Both directions of the packing, including the ends of the 32-bit range and its wrap.
struct PackCase {
    TimeFields fields;
    uint32_t packed;
};

class PackTimeTable : public testing::TestWithParam<PackCase> {};

TEST_P(PackTimeTable, PacksAndUnpacks) {
    const PackCase& c = GetParam();
    EXPECT_EQ(PackTime(c.fields), c.packed);
    EXPECT_EQ(DateTimeConverter{}.PackTime(c.fields), c.packed);
    TimeFields back{};
    UnpackTime(c.packed, &back);
    EXPECT_EQ(back.year, c.fields.year);
    EXPECT_EQ(back.month, c.fields.month);
    EXPECT_EQ(back.day, c.fields.day);
    EXPECT_EQ(back.hour, c.fields.hour);
    EXPECT_EQ(back.minute, c.fields.minute);
    EXPECT_EQ(back.second, c.fields.second);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackTimeTable,
    testing::Values(PackCase{{1980, 1, 1, 0, 0, 0}, 0u},
                    PackCase{{1999, 12, 31, 23, 59, 59}, 19u * 32140800u + 11u * 2678400u + 30u * 86400u + 86399u},
                    // Days past a short month's end are kept, between its 28th and the 1st.
                    PackCase{{2000, 2, 30, 0, 0, 0}, 20u * 32140800u + 1u * 2678400u + 29u * 86400u},
                    PackCase{{2113, 8, 18, 6, 28, 15}, 0xFFFFFFFFu}));

TEST(PackTime, WrapsAroundBelow1980AndKeepsFebruary30InOrder) {
    EXPECT_EQ(PackTime({1979, 12, 31, 23, 59, 59}), 0xFFFFFFFFu);
    const uint32_t feb28 = PackTime({2001, 2, 28, 12, 0, 0});
    const uint32_t feb30 = PackTime({2001, 2, 30, 12, 0, 0});
    const uint32_t mar1 = PackTime({2001, 3, 1, 12, 0, 0});
    EXPECT_LT(feb28, feb30);
    EXPECT_LT(feb30, mar1);
}

struct WeekdayCase {
    TimeFields date;
    int32_t weekday;
};

class DayOfWeekTable : public testing::TestWithParam<WeekdayCase> {};

TEST_P(DayOfWeekTable, CountsEveryFourthYearAsLeap) {
    EXPECT_EQ(DateTimeConverter{}.DayOfWeek(GetParam().date), GetParam().weekday);
}

INSTANTIATE_TEST_SUITE_P(Cases, DayOfWeekTable,
                         testing::Values(WeekdayCase{{1980, 1, 1, 0, 0, 0}, 2},
                                         WeekdayCase{{1981, 1, 1, 0, 0, 0}, 4},
                                         WeekdayCase{{2000, 1, 1, 0, 0, 0}, 6},
                                         WeekdayCase{{2024, 3, 1, 0, 0, 0}, 5},
                                         WeekdayCase{{2100, 2, 28, 0, 0, 0}, 0},
                                         // 2100 counts as a leap year: one day ahead from March.
                                         WeekdayCase{{2100, 3, 1, 0, 0, 0}, 2},
                                         // Outside the packed range the result stays a weekday.
                                         WeekdayCase{{1979, 12, 31, 0, 0, 0}, 1},
                                         WeekdayCase{{1976, 1, 1, 0, 0, 0}, 4},
                                         // Month 13 is January of the next year.
                                         WeekdayCase{{1999, 13, 1, 0, 0, 0}, 6}));

TEST(SystemTimeConversion, CarriesWeekdayOutAndIgnoresItOnTheWayIn) {
    DateTimeConverter converter;
    platform::SystemTime st{};
    converter.PackedToSystemTime(PackTime({2000, 1, 1, 13, 14, 15}), &st);
    EXPECT_EQ(st.year, 2000);
    EXPECT_EQ(st.month, 1);
    EXPECT_EQ(st.day, 1);
    EXPECT_EQ(st.dayOfWeek, 6);
    EXPECT_EQ(st.hour, 13);
    EXPECT_EQ(st.minute, 14);
    EXPECT_EQ(st.second, 15);
    EXPECT_EQ(st.milliseconds, 0);

    st.dayOfWeek = 3;
    st.milliseconds = 999;
    EXPECT_EQ(converter.SystemTimeToPacked(st), PackTime({2000, 1, 1, 13, 14, 15}));
}

TEST(DigitText, WritesFourteenDigits) {
    char digits[kTimeDigitsSize];
    DateTimeConverter{}.PackedToDigits(PackTime({1999, 12, 31, 23, 59, 59}), digits);
    EXPECT_STREQ(digits, "19991231235959");
    DateTimeConverter{}.PackedToDigits(0, digits);
    EXPECT_STREQ(digits, "19800101000000");
    EXPECT_EQ(DateTimeConverter{}.DigitsToPacked("19991231235959"), PackTime({1999, 12, 31, 23, 59, 59}));
}

struct NormalizeCase {
    const char* text;
    const char* normalized;
};

class NormalizeTable : public testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeTable, BringsFieldsIntoThePackedCalendar) {
    char out[kTimeDigitsSize];
    DateTimeConverter{}.NormalizeTimeDigits(GetParam().text, out);
    EXPECT_STREQ(out, GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(Cases, NormalizeTable,
                         testing::Values(NormalizeCase{"19991301000000", "20000101000000"},
                                         NormalizeCase{"19991231235960", "20000101000000"},
                                         NormalizeCase{"20010230120000", "20010230120000"},
                                         NormalizeCase{"19990100000000", "19981231000000"},
                                         // A field's digits end at the first non-digit.
                                         NormalizeCase{"19991 31235959", "19990131235959"},
                                         // A short text gives 0 for what it lacks and is not
                                         // read past its end.
                                         NormalizeCase{"2001", "20001131000000"},
                                         NormalizeCase{"200103", "20010231000000"}));

// Conversions that go through the local zone, with the zone fixed by the test.
TEST(LocalTimeConversion, FileTimesFollowTheZone) {
    DateTimeConverter converter;
    {
        TimeSettingsScope scope("UTC0");
        SKIP_UNLESS_APPLIED(scope);
        EXPECT_EQ(converter.FileTimeToPacked(FileTimeOfUnix(kUnix20010203040506)), PackTime({2001, 2, 3, 4, 5, 6}));
        EXPECT_EQ(converter.RuntimeTimeToPacked(kUnix20010203040506), PackTime({2001, 2, 3, 4, 5, 6}));
    }
    {
        TimeSettingsScope scope("XST-1");  // an hour east of UTC, no summer time
        EXPECT_EQ(converter.FileTimeToPacked(FileTimeOfUnix(kUnix20010203040506)), PackTime({2001, 2, 3, 5, 5, 6}));
        EXPECT_EQ(converter.RuntimeTimeToPacked(kUnix20010203040506), PackTime({2001, 2, 3, 5, 5, 6}));
    }
}

// FileTimeToLocalFileTime shifts every file time by the zone's offset in force now, summer
// time or not, so a July time read in December is an hour off; the runtime's breakdown takes
// the offset of the moment it converts.
TEST(LocalTimeConversion, FileTimesTakeTheOffsetInForceNow) {
    DateTimeConverter converter;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    uint32_t utcNow = 0;
    {
        TimeSettingsScope scope("UTC0");
        SKIP_UNLESS_APPLIED(scope);
        utcNow = converter.RuntimeTimeToPacked(now);
    }
    TimeSettingsScope scope("CET-1CEST,M3.5.0,M10.5.0/3");
    const uint32_t offsetNow = converter.RuntimeTimeToPacked(now) - utcNow;
    ASSERT_TRUE(offsetNow == 3600 || offsetNow == 7200) << offsetNow;
    EXPECT_EQ(converter.FileTimeToPacked(FileTimeOfUnix(kUnix20010203040506)),
              PackTime({2001, 2, 3, 4, 5, 6}) + offsetNow);
    EXPECT_EQ(converter.FileTimeToPacked(FileTimeOfUnix(kUnix20100715120000)),
              PackTime({2010, 7, 15, 12, 0, 0}) + offsetNow);
    EXPECT_EQ(converter.RuntimeTimeToPacked(kUnix20010203040506), PackTime({2001, 2, 3, 5, 5, 6}));
    EXPECT_EQ(converter.RuntimeTimeToPacked(kUnix20100715120000), PackTime({2010, 7, 15, 14, 0, 0}));
}

TEST(LocalTimeConversion, UtcToLocalUsesTheStandardBiasOnly) {
    TimeSettingsScope scope("CET-1CEST,M3.5.0,M10.5.0/3");
    SKIP_UNLESS_APPLIED(scope);
    DateTimeConverter converter;
    EXPECT_EQ(converter.UtcToLocalPacked(PackTime({2010, 7, 15, 12, 0, 0})), PackTime({2010, 7, 15, 13, 0, 0}));
    TimeSettingsScope west("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(converter.UtcToLocalPacked(PackTime({2010, 1, 1, 2, 0, 0})), PackTime({2009, 12, 31, 21, 0, 0}));
    // Wraps below 1980 in 32 bits.
    EXPECT_EQ(converter.UtcToLocalPacked(0), 0u - 5u * 3600u);
}

TEST(LocalTimeConversion, CurrentTimeIsNow) {
    TimeSettingsScope scope("CET-1CEST,M3.5.0,M10.5.0/3");
    SKIP_UNLESS_APPLIED(scope);
    DateTimeConverter converter;
    using std::chrono::system_clock;
    const auto secondsNow = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
    };
    const uint32_t before = converter.RuntimeTimeToPacked(secondsNow());
    const uint32_t now = converter.CurrentPackedTime();
    const uint32_t after = converter.RuntimeTimeToPacked(secondsNow());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(LocalTimeConversion, UnconvertibleTimesGiveZero) {
    DateTimeConverter converter;
    EXPECT_EQ(converter.FileTimeToPacked(0x8000000000000000ull), 0u);
    EXPECT_EQ(converter.FileTimeToPacked(~0ull), 0u);
}

TEST(Formatting, UsesTheLocaleFormatsWithOneBlankBetween) {
    TimeSettingsScope scope("XST-1", "C");
    SKIP_UNLESS_APPLIED(scope);
    DateTimeConverter converter;
    char text[kFormattedTimeSize];
    converter.FormatPackedTime(PackTime({1999, 12, 31, 23, 59, 59}), text);
    EXPECT_STREQ(text, "12/31/99 23:59:59");
    converter.FormatFileTime(FileTimeOfUnix(kUnix20010203040506), text);
    EXPECT_STREQ(text, "02/03/01 05:05:06");
    converter.FormatUtcPackedTime(PackTime({1999, 12, 31, 23, 30, 0}), text);
    EXPECT_STREQ(text, "01/01/00 00:30:00");
}

TEST(Formatting, AFailedLocaleGivesASingleBlank) {
    TimeSettingsScope scope("UTC0", "xx_NOWHERE.invalid");
    SKIP_UNLESS_APPLIED(scope);
    char text[kFormattedTimeSize];
    std::memset(text, 'x', sizeof text);
    DateTimeConverter{}.FormatPackedTime(PackTime({1999, 12, 31, 23, 59, 59}), text);
    EXPECT_STREQ(text, " ");
}

// February 30 is a packed time but no date: the date part stays empty, the time is still shown.
TEST(Formatting, ADateThatDoesNotExistLeavesTheDateEmpty) {
    // A locale that exists, where the process may choose it (Windows uses the user's own).
    TimeSettingsScope scope("UTC0", "C");
    char text[kFormattedTimeSize];
    DateTimeConverter{}.FormatPackedTime(PackTime({2001, 2, 30, 10, 0, 0}), text);
    ASSERT_EQ(text[0], ' ');
    EXPECT_GT(std::strlen(text), 1u);
    EXPECT_NE(std::string(text).find("10"), std::string::npos);
}

}  // namespace

// Local file times as FileTimeToLocalFileTime and LocalFileTimeToFileTime give them: shifted by
// the zone's offset in force now, whatever the time converted.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/time.h"
#include "time_settings_scope.h"

namespace {

using testing_support::TimeSettingsScope;

constexpr uint64_t kTicksPerHour = 36000000000ull;
constexpr uint64_t kJanuary2010 = 129080304000000000ull;  // 2010-01-15 12:00 UTC
constexpr uint64_t kJuly2010 = 129236688000000000ull;     // 2010-07-15 12:00 UTC

TEST(LocalFileTime, OneOffsetForSummerAndWinterBothWays) {
    TimeSettingsScope scope("CET-1CEST,M3.5.0,M10.5.0/3");
    SKIP_UNLESS_APPLIED(scope);
    uint64_t january = 0, july = 0;
    ASSERT_TRUE(platform::FileTimeToLocal(kJanuary2010, &january));
    ASSERT_TRUE(platform::FileTimeToLocal(kJuly2010, &july));
    const uint64_t offset = january - kJanuary2010;
    EXPECT_TRUE(offset == kTicksPerHour || offset == 2 * kTicksPerHour) << offset;
    EXPECT_EQ(july - kJuly2010, offset) << "the offset of now, not the one in force in July";
    uint64_t back = 0;
    ASSERT_TRUE(platform::LocalToFileTime(july, &back));
    EXPECT_EQ(back, kJuly2010);
}

TEST(LocalFileTime, TimesThatWouldLeaveTheRangeFail) {
    uint64_t out = 0;
    {
        TimeSettingsScope west("EST5");
        SKIP_UNLESS_APPLIED(west);
        EXPECT_FALSE(platform::FileTimeToLocal(0, &out)) << "before 1601";
        EXPECT_TRUE(platform::LocalToFileTime(0, &out));
        EXPECT_EQ(out, 5 * kTicksPerHour);
    }
    TimeSettingsScope east("XST-1");
    EXPECT_FALSE(platform::FileTimeToLocal(0x7FFFFFFFFFFFFFFFull, &out));
    EXPECT_FALSE(platform::FileTimeToLocal(0x8000000000000000ull, &out));
    EXPECT_FALSE(platform::LocalToFileTime(0, &out));
}

}  // namespace

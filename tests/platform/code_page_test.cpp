// Lead bytes of the two-byte code pages: the POSIX tables must give what Windows gives (under
// Wine this test asks the real IsDBCSLeadByteEx).
#include <gtest/gtest.h>

#include <string>

#include "code_page_scope.h"
#include "platform/code_page.h"
#include "platform/testing/code_page.h"

namespace {

using testing_support::CodePageScope;

// The lead bytes of a code page as ranges "81-9F E0-FC".
std::string LeadRanges() {
    std::string ranges;
    int start = -1;
    for (int byte = 0; byte <= 256; ++byte) {
        const bool lead = byte < 256 && platform::IsLeadByte(static_cast<uint8_t>(byte));
        if (lead && start < 0) start = byte;
        if (!lead && start >= 0) {
            char range[24];
            std::snprintf(range, sizeof range, "%02X-%02X", start, byte - 1);
            ranges += (ranges.empty() ? "" : " ") + std::string(range);
            start = -1;
        }
    }
    return ranges;
}

TEST(CodePage, LeadBytesOfEachCodePage) {
    struct Case {
        uint32_t codePage;
        const char* leads;
    };
    const Case cases[] = {
        {932, "81-9F E0-FC"}, {936, "81-FE"}, {949, "81-FE"}, {950, "81-FE"},
        {1361, "84-D3 D8-DE E0-F9"}, {1252, ""}, {65001, ""},
    };
    for (const Case& c : cases) {
        CodePageScope scope(c.codePage);
        ASSERT_TRUE(scope.selected()) << c.codePage;
        EXPECT_EQ(platform::ActiveCodePage(), c.codePage);
        EXPECT_EQ(LeadRanges(), c.leads) << c.codePage;
    }
}

TEST(CodePage, ZeroGoesBackToTheSystemCodePage) {
    const uint32_t system = platform::ActiveCodePage();
    {
        CodePageScope scope(932);
        EXPECT_EQ(platform::ActiveCodePage(), 932u);
    }
    EXPECT_EQ(platform::ActiveCodePage(), system);
}

TEST(CodePage, AnUnknownCodePageIsRefusedAndChangesNothing) {
    const uint32_t system = platform::ActiveCodePage();
    EXPECT_FALSE(platform::SelectCodePage(12345));
    EXPECT_EQ(platform::ActiveCodePage(), system);

    CodePageScope japanese(932);
    ASSERT_TRUE(japanese.selected());
    EXPECT_FALSE(platform::SelectCodePage(12345));
    EXPECT_EQ(platform::ActiveCodePage(), 932u);
    EXPECT_EQ(LeadRanges(), "81-9F E0-FC") << "the code page in force is kept";
}

}  // namespace

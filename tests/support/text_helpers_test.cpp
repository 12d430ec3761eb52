#include "support/text_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace support;

namespace {

std::string Formatted(const char* pattern, const char* arg, size_t size = 64) {
    std::vector<char> buffer(size);
    std::strncpy(buffer.data(), pattern, size - 1);
    FormatText(buffer.data(), size, arg);
    return buffer.data();
}

TEST(FormatText, FillsPlaceholdersAndPercentSigns) {
    struct Case {
        const char* pattern;
        const char* arg;
        const char* filled;
    };
    const Case cases[] = {
        {"Error %s.", "x", "Error x."},
        {"100%%", "x", "100%"},
        {"%S and %s", "y", "y and y"},
        {"%d%", "x", "%d%"},  // only %s and %% are placeholders
        {"%", "x", "%"},
        {"<%s>", nullptr, "<>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Formatted(c.pattern, c.arg), c.filled) << c.pattern;
}

TEST(FormatText, CutsAtTheCallersBufferAndAtTheWorkBuffer) {
    EXPECT_EQ(Formatted("a%sz", "0123456789", 8), "a012345");
    const std::string longArg(9000, 'x');
    EXPECT_EQ(Formatted("%s", longArg.c_str(), 10000), std::string(kFormatWorkSize - 1, 'x'));
    // Every '%' a doubled sign yields counts too, so the work buffer cannot overflow.
    const std::string percents(2 * kFormatWorkSize, '%');
    EXPECT_EQ(Formatted(percents.c_str(), "", percents.size() + 1), std::string(kFormatWorkSize - 1, '%'));
}

TEST(FormatText, TwoAndThreeArgumentsChooseBySelector) {
    char two[64] = "%s1 %s2 %s3 %sx%s";
    FormatText2(two, sizeof two, "a", "b");
    EXPECT_STREQ(two, "a b a aa");  // a "%s" without a selector at the end takes the first
    char three[64] = "%s1 %s2 %S3 %%%s9";
    FormatText3(three, sizeof three, "a", "b", "c");
    EXPECT_STREQ(three, "a b c %a");
}

TEST(ReplaceTag, ReplacesTheWholeNameOnly) {
    char text[64] = "[user] [username] [use] [USER]";
    EXPECT_EQ(ReplaceSquareTag(text, sizeof text, "user", "Bob"), 2);
    EXPECT_STREQ(text, "Bob [username] [use] Bob");

    char angle[64] = "<Host>:<host";
    EXPECT_EQ(ReplaceAngleTag(angle, sizeof angle, "host", "example"), 1);
    EXPECT_STREQ(angle, "example:<host");
}

TEST(ReplaceTag, AnInsertedTagIsNotReplacedAgain) {
    char text[64] = "a[x]b[x]";
    EXPECT_EQ(ReplaceSquareTag(text, sizeof text, "x", "[x][x]"), 2);
    EXPECT_STREQ(text, "a[x][x]b[x][x]");
}

TEST(ReplaceTag, RefusesAGrowthThatDoesNotFit) {
    char text[9] = "[a] [a]";  // each replacement adds one character
    EXPECT_EQ(ReplaceSquareTag(text, sizeof text, "a", "wxyz"), -1);  // the first fits, the second not
    EXPECT_STREQ(text, "wxyz [a]");
    EXPECT_EQ(ReplaceSquareTag(text, sizeof text, "a", ""), 1);  // shrinking always fits
    EXPECT_STREQ(text, "wxyz ");
}

TEST(Trimming, StripQuotesAndTrimSpaces) {
    struct Case {
        const char* text;
        const char* stripped;
        const char* trimmed;
    };
    const Case cases[] = {
        {"\"abc\"", "abc", "\"abc\""},
        {"\"abc", "\"abc", "\"abc"},
        {"\"\"", "", "\"\""},
        {"\"", "\"", "\""},
        {"", "", ""},
        {"   ", "   ", ""},
        {"  a b  ", "  a b  ", "a b"},
        {"\ta ", "\ta ", "\ta"},  // blanks only, not tabs
    };
    for (const Case& c : cases) {
        char buffer[16];
        std::strcpy(buffer, c.text);
        StripQuotes(buffer);
        EXPECT_STREQ(buffer, c.stripped) << c.text;
        std::strcpy(buffer, c.text);
        TrimSpaces(buffer);
        EXPECT_STREQ(buffer, c.trimmed) << c.text;
    }
}

TEST(ToggleScramble, TwiceRestoresAndTheKeyByteEndsTheText) {
    char text[] = "Secret text";
    ToggleScramble(text);
    EXPECT_STRNE(text, "Secret text");
    EXPECT_EQ(std::strlen(text), 11u);
    ToggleScramble(text);
    EXPECT_STREQ(text, "Secret text");

    char withKey[] = {'a', static_cast<char>(kToggleScrambleKey), 'b', '\0'};
    ToggleScramble(withKey);
    EXPECT_EQ(withKey[1], '\0');
    ToggleScramble(withKey);
    EXPECT_STREQ(withKey, "a");
}

}  // namespace

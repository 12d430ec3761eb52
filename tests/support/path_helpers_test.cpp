#include "support/path_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "code_page_scope.h"

using namespace support;

namespace {

using testing_support::CodePageScope;

// Offset of a found position in `text`, -1 for null.
long At(const char* text, const char* found) { return found ? static_cast<long>(found - text) : -1; }

TEST(CharacterWalks, SeparatorsAndLastCharacter) {
    struct Case {
        const char* text;
        long last, first, lastSeparator;
    };
    const Case cases[] = {
        {"", 0, -1, -1},        {"abc", 2, -1, -1},   {"a\\b/c", 4, 1, 3},
        {"\\", 0, 0, 0},        {"C:\\", 2, 2, 2},    {"a/", 1, 1, 1},
    };
    CodePageScope western(1252);
    for (const Case& c : cases) {
        EXPECT_EQ(At(c.text, LastChar(c.text)), c.last) << c.text;
        EXPECT_EQ(At(c.text, FirstSeparator(c.text)), c.first) << c.text;
        EXPECT_EQ(At(c.text, LastSeparator(c.text)), c.lastSeparator) << c.text;
    }
}

TEST(CharacterWalks, PrevCharAndPrevSeparator) {
    const char* text = "ab\\cd";
    EXPECT_EQ(PrevChar(text, text + 3), text + 2);
    EXPECT_EQ(PrevChar(text, text), text);
    EXPECT_EQ(PrevChar(nullptr, text), nullptr);
    EXPECT_EQ(PrevChar(text, nullptr), nullptr);
    EXPECT_EQ(PrevSeparator(text, text + 5), text + 2);
    EXPECT_EQ(PrevSeparator(text, text + 2), nullptr);  // only "ab" lies before
    EXPECT_EQ(PrevSeparator(text, text), nullptr);
}

TEST(CharacterWalks, NullTextsFindNothingAndChangeNothing) {
    const char* none = nullptr;
    EXPECT_EQ(LastChar(none), nullptr);
    EXPECT_EQ(FirstSeparator(none), nullptr);
    EXPECT_EQ(LastSeparator(none), nullptr);
    EXPECT_EQ(PrevSeparator(none, none), nullptr);
    EXPECT_EQ(NextComponent(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(AddTrailingSeparator(nullptr, 0), 0);
    RemoveTrailingSeparators(nullptr);
    BackslashesToSlashes(nullptr);
    SlashesToBackslashes(nullptr);
}

// In Shift-JIS (932) 0x95 0x5C is one character whose trail byte is the backslash's code.
TEST(CharacterWalks, TrailByteEqualToBackslashIsNoSeparatorInATwoByteCodePage) {
    const char kanji[] = "\x95\x5C";
    const std::string path = std::string("a\\") + kanji;  // a \ 0x95 0x5C
    CodePageScope japanese(932);
    ASSERT_TRUE(japanese.selected());
    EXPECT_EQ(At(path.c_str(), LastChar(path.c_str())), 2);
    EXPECT_EQ(At(path.c_str(), LastSeparator(path.c_str())), 1);
    EXPECT_EQ(At(kanji, FirstSeparator(kanji)), -1);
    EXPECT_EQ(At(path.c_str(), PrevChar(path.c_str(), path.c_str() + 4)), 2);
    EXPECT_EQ(At(path.c_str(), PrevSeparator(path.c_str(), path.c_str() + 4)), 1);

    char buffer[16];
    std::strcpy(buffer, path.c_str());
    RemoveTrailingSeparators(buffer);
    EXPECT_EQ(std::string(buffer), path);
    ASSERT_EQ(AddTrailingSeparator(buffer, sizeof buffer, '\\'), 0);
    EXPECT_EQ(std::string(buffer), path + "\\");

    // The same bytes in a single-byte code page end with a backslash.
    CodePageScope western(1252);
    std::strcpy(buffer, path.c_str());
    RemoveTrailingSeparators(buffer);
    EXPECT_STREQ(buffer, "a\\\x95");
}

TEST(CharacterWalks, ALeadByteAtTheEndIsOneCharacter) {
    CodePageScope japanese(932);
    ASSERT_TRUE(japanese.selected());
    const char text[] = "ab\x95";
    EXPECT_EQ(At(text, LastChar(text)), 2);
    EXPECT_EQ(NextChar(text + 2), text + 3);
    EXPECT_EQ(NextChar(text + 3), text + 3);
}

TEST(TrailingSeparators, AddAndRemove) {
    struct Case {
        const char* text;
        const char* added;
        const char* removed;
    };
    const Case cases[] = {
        {"", "", ""},
        {"C:\\", "C:\\", "C:"},
        {"a/", "a/", "a"},
        {"a", "a\\", "a"},
        {"\\/\\", "\\/\\", ""},
        {"C:\\x\\\\", "C:\\x\\\\", "C:\\x"},
    };
    for (const Case& c : cases) {
        char buffer[32];
        std::strcpy(buffer, c.text);
        EXPECT_EQ(AddTrailingSeparator(buffer, sizeof buffer, '\\'), 0);
        EXPECT_STREQ(buffer, c.added) << c.text;
        std::strcpy(buffer, c.text);
        RemoveTrailingSeparators(buffer);
        EXPECT_STREQ(buffer, c.removed) << c.text;
    }
}

TEST(TrailingSeparators, AddRefusesAFullBufferAndUsesThePlatformSeparator) {
    char full[3] = "ab";
    EXPECT_EQ(AddTrailingSeparator(full, sizeof full), -1);
    EXPECT_STREQ(full, "ab");
    char roomy[4] = "ab";
    EXPECT_EQ(AddTrailingSeparator(roomy, sizeof roomy), 0);
    EXPECT_EQ(roomy[2], platform::kPathSeparator);
}

TEST(SeparatorConversion, OneWayAndBack) {
    char text[] = "a\\b/c\\";
    BackslashesToSlashes(text);
    EXPECT_STREQ(text, "a/b/c/");
    SlashesToBackslashes(text);
    EXPECT_STREQ(text, "a\\b\\c\\");
}

TEST(Components, WalkForwardAndBackward) {
    const char* path = "\\\\a\\bc\\\\d";
    char out[8];
    std::string forward;
    for (const char* p = NextComponent(path, out, sizeof out); p; p = NextComponent(p, out, sizeof out))
        forward += std::string(out) + "|";
    EXPECT_EQ(forward, "a|bc|d|");

    std::string backward;
    const char* end = path + std::strlen(path);
    for (const char* p = PrevComponent(path, end, out, sizeof out); p; p = PrevComponent(path, p, out, sizeof out))
        backward += std::string(out) + "|";
    EXPECT_EQ(backward, "d|bc|a|");
}

TEST(Components, TheFirstComponentComesWholeAndLongOnesAreCut) {
    const char* path = "first\\second";
    char out[4];
    const char* p = PrevComponent(path, path + std::strlen(path), out, sizeof out);
    EXPECT_EQ(p, path + 5);
    EXPECT_STREQ(out, "sec");
    p = PrevComponent(path, p, out, sizeof out);
    EXPECT_EQ(p, path);
    EXPECT_STREQ(out, "fir");
    EXPECT_EQ(PrevComponent(path, p, out, sizeof out), nullptr);

    const char* separators = "\\\\";
    EXPECT_EQ(NextComponent(separators, out, sizeof out), nullptr);
    EXPECT_EQ(PrevComponent(separators, separators + 2, out, sizeof out), nullptr);
    const char* walked = NextComponent("abcdefg\\h", out, sizeof out);
    EXPECT_STREQ(out, "abc");
    EXPECT_STREQ(walked, "h");
}

TEST(CombinePath, JoinsAndResolvesDots) {
    struct Case {
        const char* base;
        const char* relative;
        const char* combined;  // null: refused
    };
    const Case cases[] = {
        {"C:\\a", "b\\..\\c", "C:\\a\\c"},
        {"C:\\a", "b", "C:\\a/b"},                  // no backslash in the relative part
        {"C:\\a", "b/c\\d", "C:\\a/b/c\\d"},        // its first separator is a slash
        {"C:\\a\\", "b\\c", "C:\\a\\\\b\\c"},       // the separator comes even after one
        {"", "x\\y", "x\\y"},
        {"C:\\a", "\\x", "\\x"},                    // a rooted relative part stands alone
        {"C:\\a", ".\\b\\.\\c\\.", "C:\\a\\b\\c"},
        {"C:\\a\\b", "..\\..\\c", "C:\\c"},
        {"C:\\a", "..", "C:\\"},
        {"a", "..\\b", "b"},
        {"C:\\a", ".hidden\\x", "C:\\a\\.hidden\\x"},  // names that begin with dots stay
        {"C:\\a", "b\\..x\\.y", "C:\\a\\b\\..x\\.y"},
        {"..", "x", nullptr},                        // begins with ".."
        {"", "..\\x", nullptr},
        {"", "..", nullptr},
        {"C:\\a", "..\\..", nullptr},                // above the root
        {"a", "..\\..\\b", nullptr},                 // above the start
        {"", "\\..", nullptr},
    };
    for (const Case& c : cases) {
        char out[64] = "untouched";
        const int32_t result = CombinePath(c.base, c.relative, out, sizeof out);
        if (c.combined) {
            EXPECT_EQ(result, 0) << c.base << " + " << c.relative;
            EXPECT_STREQ(out, c.combined) << c.base << " + " << c.relative;
        } else {
            EXPECT_EQ(result, -1) << c.base << " + " << c.relative << " gave " << out;
            EXPECT_STREQ(out, "");
        }
    }
}

TEST(CombinePath, RefusesWhatDoesNotFit) {
    char out[kCombineWorkSize + 8];
    const std::string base(kCombineWorkSize - 3, 'b');
    EXPECT_EQ(CombinePath(base.c_str(), "c", out, sizeof out), 0);  // 2,047 characters
    EXPECT_EQ(std::strlen(out), kCombineWorkSize - 1);
    EXPECT_EQ(CombinePath(base.c_str(), "cd", out, sizeof out), -1);
    EXPECT_STREQ(out, "");

    char small[6];
    EXPECT_EQ(CombinePath("ab", "cd", small, sizeof small), 0);
    EXPECT_STREQ(small, "ab/cd");
    EXPECT_EQ(CombinePath("ab", "cde", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
    // What fits after resolving fits, however long the joined text was.
    EXPECT_EQ(CombinePath("abcdefgh", "..\\x", small, sizeof small), 0);
    EXPECT_STREQ(small, "x");
    EXPECT_EQ(CombinePath(nullptr, "x", small, sizeof small), -1);
}

TEST(CombinePath, ATrailByteEqualToBackslashDoesNotStartADotComponent) {
    CodePageScope japanese(932);
    ASSERT_TRUE(japanese.selected());
    char out[32];
    // "\x95\x5C" is one character; the ".." after it is part of the name.
    ASSERT_EQ(CombinePath("C:\\a", "\x95\x5C..\\b", out, sizeof out), 0);
    EXPECT_STREQ(out, "C:\\a\\\x95\x5C..\\b");
}

}  // namespace

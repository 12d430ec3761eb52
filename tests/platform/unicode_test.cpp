// The one UTF-8/UTF-16 codec: valid text round-trips, and what is not a character becomes
// U+FFFD instead of being decoded into something it never was.
#include <gtest/gtest.h>

#include <string>

#include "platform/unicode.h"

namespace {

using platform::DecodeUtf8;
using platform::Utf16FromUtf8;
using platform::Utf8FromUtf16;

TEST(Unicode, DecodeTakesOnlyWellFormedSequences) {
    struct Case {
        const char* name;
        std::string bytes;
        size_t length;
        char32_t codePoint;
    };
    const Case cases[] = {
        {"ASCII", "A", 1, U'A'},
        {"two bytes", "\xC3\xA9", 2, 0xE9},
        {"three bytes", "\xE2\x82\xAC", 3, 0x20AC},
        {"four bytes", "\xF0\x9F\x98\x80", 4, 0x1F600},
        {"largest", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"overlong slash", "\xC0\xAF", 0, 0},
        {"overlong three", "\xE0\x80\xAF", 0, 0},
        {"encoded surrogate", "\xED\xA0\x80", 0, 0},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
        {"lone continuation", "\x80", 0, 0},
        {"cut short", "\xE2\x82", 0, 0},
        {"bad continuation", "\xC3\x41", 0, 0},
        {"empty", "", 0, 0},
    };
    for (const Case& c : cases) {
        char32_t codePoint = 0;
        EXPECT_EQ(DecodeUtf8(c.bytes, &codePoint), c.length) << c.name;
        if (c.length) {
            EXPECT_EQ(codePoint, c.codePoint) << c.name;
        }
    }
}

TEST(Unicode, ConversionsRoundTripAndReplaceWhatIsNoCharacter) {
    const std::string text = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16FromUtf8(text), u"Caf\u00E9 \u20AC \U0001F600");
    EXPECT_EQ(Utf8FromUtf16(Utf16FromUtf8(text)), text);

    // A stray byte, an overlong form and a cut-off sequence each give one U+FFFD per byte that
    // begins nothing, and the characters after them are still read.
    EXPECT_EQ(Utf16FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf16FromUtf8("\xC0\xAF" "x"), u"\uFFFD\uFFFDx");
    EXPECT_EQ(Utf16FromUtf8("x\xE2\x82"), u"x\uFFFD\uFFFD");
    // Lone surrogates, high or low, at the end or in the middle.
    const std::u16string lone = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00), char16_t(0xD83D)};
    EXPECT_EQ(Utf8FromUtf16(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace

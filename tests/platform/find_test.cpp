// Directory searches: which names a pattern finds, and what each entry tells. The pattern table
// runs against the real FindFirstFileA on Windows and against the POSIX listing plus our
// matcher elsewhere, so one table pins both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/wildcard.h"
#include "platform/testing/files.h"
#include "test_support.h"

namespace {

using namespace platform;
using testing_support::ScratchDir;

// Short (8.3) names can add matches of their own on Windows, so the names are 8.3 names or
// long names whose generated short names match no pattern below that the long name misses.
const char* const kNames[] = {"readme",         "readme.txt", "notes.TXT",          "Ab.Txt",
                              "a.b.c",          "a..b",       "archive.tar.gz",     "abc",
                              "ab",             "a",          "x",                  ".hidden",
                              "noext",          "data1.hdb",  "data10.hdb",         "UserConfig.hdb",
                              "UserConfig.hdb.old", "UserConfig.hdb.old0", "0000000a", "my file.txt"};

struct PatternCase {
    const char* pattern;
    const char* found;  // the names found, sorted, one blank between them
};

const PatternCase kPatternCases[] = {
    {"*", ".hidden 0000000a Ab.Txt UserConfig.hdb UserConfig.hdb.old UserConfig.hdb.old0 a a..b a.b.c ab abc "
          "archive.tar.gz data1.hdb data10.hdb my file.txt noext notes.TXT readme readme.txt x"},
    // "*.*" also finds names without a dot
    {"*.*", ".hidden 0000000a Ab.Txt UserConfig.hdb UserConfig.hdb.old UserConfig.hdb.old0 a a..b a.b.c ab abc "
            "archive.tar.gz data1.hdb data10.hdb my file.txt noext notes.TXT readme readme.txt x"},
    {"*.*.*", ".hidden 0000000a Ab.Txt UserConfig.hdb UserConfig.hdb.old UserConfig.hdb.old0 a a..b a.b.c ab abc "
              "archive.tar.gz data1.hdb data10.hdb my file.txt noext notes.TXT readme readme.txt x"},
    // case-free
    {"*.txt", "Ab.Txt my file.txt notes.TXT readme.txt"},
    {"*.TXT", "Ab.Txt my file.txt notes.TXT readme.txt"},
    {"*.HdB", "UserConfig.hdb data1.hdb data10.hdb"},
    {"README.*", "readme readme.txt"},
    {"*A", "0000000a a"},
    // ".*" after a name also finds the name without an extension
    {"readme.*", "readme readme.txt"},
    {"x.*", "x"},
    {"a.*", "a a..b a.b.c"},
    {"abc.*.*", "abc"},
    {"*.hdb.*", "UserConfig.hdb UserConfig.hdb.old UserConfig.hdb.old0 data1.hdb data10.hdb"},
    {"UserConfig.hdb.old*", "UserConfig.hdb.old UserConfig.hdb.old0"},
    {".*", ".hidden"},
    // '?' takes one character, also one of several dots
    {"?", "a x"},
    {"data?.hdb", "data1.hdb"},
    {"*.t?t", "Ab.Txt my file.txt notes.TXT readme.txt"},
    {"*.tx?", "Ab.Txt my file.txt notes.TXT readme.txt"},
    {"a?b", ""},
    // '*' in the middle and at both ends
    {"r*e", "readme"},
    {"r*e.*", "readme readme.txt"},
    {"*e*", ".hidden UserConfig.hdb UserConfig.hdb.old UserConfig.hdb.old0 archive.tar.gz my file.txt noext "
            "notes.TXT readme readme.txt"},
    {"*1*", "data1.hdb data10.hdb"},
    {"0*a", "0000000a"},
    {"*.b.*", "a..b a.b.c"},
    {"*.c", "a.b.c"},
    {"*.gz", "archive.tar.gz"},
    {"*tar*", "archive.tar.gz"},
    {"* *", "my file.txt"},
    {"*.tx", ""},
    // trailing dots and blanks of the last element are dropped
    {"readme.", "readme"},
    {"readme..", "readme"},
    {"readme. ", "readme"},
    {"readme.txt.", "readme.txt"},
    {"noext.", "noext"},
    {"*.txt.", "Ab.Txt my file.txt notes.TXT readme.txt"},
    {"*.txt ", "Ab.Txt my file.txt notes.TXT readme.txt"},
    // no wildcards: the one name
    {"readme", "readme"},
    {"x.txt", ""},
};

std::string InFolder(const std::string& folder, const std::string& name) { return folder + kPathSeparator + name; }

std::string Found(const std::string& pattern) {
    std::vector<std::string> names;
    FindData data;
    FindHandle search = FindFirst(pattern.c_str(), &data);
    if (search != 0) {
        do {
            if (std::strcmp(data.name, ".") != 0 && std::strcmp(data.name, "..") != 0) names.emplace_back(data.name);
        } while (FindNext(search, &data));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

TEST(FindPattern, FindsWhatWindowsFinds) {
    ScratchDir dir;
    for (const char* name : kNames) testing_support::WriteText(dir / name, "x");
    for (const PatternCase& c : kPatternCases) EXPECT_EQ(Found(dir / c.pattern), c.found) << "pattern \"" << c.pattern << '"';
}

// The Windows rules where Wine's own search is simpler (its '?' always takes a character and a
// '*' before a dot may pass the last dot), so these run against the matcher alone.
TEST(FindPattern, MatcherKeepsTheDosWildcardRules) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"a?", "a", true},           {"a?", "ab", true},          {"a?", "abc", false},
        {"??", "x", true},           {"abc?", "abc", true},       {"data??.hdb", "data1.hdb", true},
        {"abc.?", "abc", true},      {"readme.t?t?", "readme.txt", true},
        {"a.b?c", "a.b.c", false},   {"a?.b", "a..b", false},     {"?.*", ".hidden", true},
        {"*.?", "noext", true},      {"*.?", "a.b.c", true},      {"*.?", "readme.txt", false},
        {"*.???", "noext", true},    {"*.???", "archive.tar.gz", true},
        {"*.???", "UserConfig.hdb.old0", false},                 {"*?", "x", true},
        {"*..*", "a..b", true},      {"*..*", "noext", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << "pattern \"" << c.pattern << "\" name \"" << c.name << '"';
    // A listing skips matching where the pattern takes every name: only where it truly does.
    for (const char* all : {"*", "*.*", "*.", "*.*."}) {
        EXPECT_TRUE(WildcardMatchesAll(all)) << all;
        for (const char* name : {"x", ".hidden", "a.b.c", "noext"}) EXPECT_TRUE(WildcardMatch(all, name)) << all;
    }
    for (const char* some : {"*?", "*.?", "a*", "*a", "?", "*.hdb"}) EXPECT_FALSE(WildcardMatchesAll(some)) << some;
    EXPECT_TRUE(HasWildcards("users/*.*"));
    EXPECT_TRUE(HasWildcards("a?"));
    EXPECT_FALSE(HasWildcards("UserConfig.hdb"));
}

TEST(FindData, DescribesTheEntryFully) {
    ScratchDir dir;
    testing_support::WriteText(dir / "data.txt", "12345");
    testing_support::WriteText(dir / "ro.txt", "r");
    ASSERT_TRUE(SetFileReadOnly((dir / "ro.txt").c_str()));
    std::filesystem::create_directory(dir.path() / "sub");
    // Past 4 GiB without writing it: the size needs both halves.
    testing_support::WriteText(dir / "big.bin", "");
    std::filesystem::resize_file(dir.path() / "big.bin", 0x140000000ull);

    FindData data;
    FindHandle search = FindFirst((dir / "data.txt").c_str(), &data);
    ASSERT_NE(search, 0);
    FindClose(search);
    EXPECT_STREQ(data.name, "data.txt");
    EXPECT_STREQ(data.shortName, "");  // an 8.3 name needs no short name
    EXPECT_EQ(data.attributes & (kAttributeDirectory | kAttributeReadOnly), 0u);
    EXPECT_EQ(data.size, 5u);
    constexpr uint64_t kYear2020 = 132223104000000000ull;  // file times of 2020-01-01 and 2100-01-01
    constexpr uint64_t kYear2100 = 157469184000000000ull;
    for (uint64_t t : {data.creationTime, data.lastAccessTime, data.lastWriteTime}) {
        EXPECT_GT(t, kYear2020);
        EXPECT_LT(t, kYear2100);
    }

    ASSERT_NE(search = FindFirst((dir / "ro.txt").c_str(), &data), 0);
    FindClose(search);
    EXPECT_NE(data.attributes & kAttributeReadOnly, 0u);

    ASSERT_NE(search = FindFirst((dir / "sub").c_str(), &data), 0);
    FindClose(search);
    EXPECT_NE(data.attributes & kAttributeDirectory, 0u);
    EXPECT_EQ(data.size, 0u);

    ASSERT_NE(search = FindFirst((dir / "big.bin").c_str(), &data), 0);
    FindClose(search);
    EXPECT_EQ(data.size, 0x140000000ull);

    // A long name may carry a generated short name; when it does, it keeps the extension.
    testing_support::WriteText(dir / "longfilename.html", "");
    ASSERT_NE(search = FindFirst((dir / "longfilename.html").c_str(), &data), 0);
    FindClose(search);
    EXPECT_STREQ(data.name, "longfilename.html");
    const std::string shortName = data.shortName;
    if (!shortName.empty()) {
        EXPECT_LE(shortName.size(), 12u);
        EXPECT_EQ(shortName.substr(shortName.size() - 4), ".HTM");
    }
}

namespace {

std::vector<FindData> ListAll(const std::string& pattern, FindFill fill, bool describe) {
    std::vector<FindData> entries;
    FindData data;
    FindHandle search = FindFirst(pattern.c_str(), &data, fill);
    if (!search) return entries;
    do {
        if (describe) FindDescribe(search, &data);
        entries.push_back(data);
    } while (FindNext(search, &data));
    FindClose(search);
    return entries;
}

}  // namespace

// A search that asks for names first hands out the same entries, with name and folder bit at
// once and, after FindDescribe, every field as a search that describes each entry at once.
TEST(FindData, NamesFirstThenTheSameDescription) {
    ScratchDir dir;
    testing_support::WriteText(dir / "data.txt", "12345");
    testing_support::WriteText(dir / "ro.txt", "r");
    ASSERT_TRUE(SetFileReadOnly((dir / "ro.txt").c_str()));
    testing_support::WriteText(dir / ".hidden", "hh");
    std::filesystem::create_directory(dir.path() / "sub");
    const std::string pattern = dir / "*";

    const std::vector<FindData> whole = ListAll(pattern, FindFill::Everything, false);
    const std::vector<FindData> names = ListAll(pattern, FindFill::NameFirst, false);
    const std::vector<FindData> described = ListAll(pattern, FindFill::NameFirst, true);
    ASSERT_EQ(whole.size(), 6u);  // ".", "..", ".hidden", "data.txt", "ro.txt", "sub"
    ASSERT_EQ(names.size(), whole.size());
    ASSERT_EQ(described.size(), whole.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        SCOPED_TRACE(whole[i].name);
        EXPECT_STREQ(names[i].name, whole[i].name);
        EXPECT_EQ(names[i].attributes & kAttributeDirectory, whole[i].attributes & kAttributeDirectory);
        EXPECT_STREQ(described[i].name, whole[i].name);
        EXPECT_STREQ(described[i].shortName, whole[i].shortName);
        EXPECT_EQ(described[i].attributes, whole[i].attributes);
        EXPECT_EQ(described[i].size, whole[i].size);
        EXPECT_EQ(described[i].creationTime, whole[i].creationTime);
        EXPECT_EQ(described[i].lastWriteTime, whole[i].lastWriteTime);
    }
}

#ifndef _WIN32
// An entry removed after the listing: described at once it is passed over; with names first it
// is handed out as the listing showed it, and describing it later leaves that description.
TEST(FindData, EntryGoneAfterTheListing) {
    ScratchDir dir;
    testing_support::WriteText(dir / "a.txt", "a");
    testing_support::WriteText(dir / "b.txt", "bbb");
    for (const FindFill fill : {FindFill::Everything, FindFill::NameFirst}) {
        testing_support::WriteText(dir / "b.txt", "bbb");
        FindData data;
        FindHandle search = FindFirst((dir / "*.txt").c_str(), &data, fill);
        ASSERT_NE(search, 0);
        EXPECT_STREQ(data.name, "a.txt");
        std::filesystem::remove(dir.path() / "b.txt");
        const bool more = FindNext(search, &data);
        if (fill == FindFill::Everything) {
            EXPECT_FALSE(more);
            EXPECT_EQ(LastError(), kErrorNoMoreFiles);
        } else {
            ASSERT_TRUE(more);
            FindDescribe(search, &data);
            EXPECT_STREQ(data.name, "b.txt");
            EXPECT_EQ(data.attributes & kAttributeDirectory, 0u);
            EXPECT_EQ(data.size, 0u);
        }
        FindClose(search);
    }
}
#endif

TEST(FindErrors, TellNoMatchFromMissingFolderAndEnd) {
    ScratchDir dir;
    FindData data;
    EXPECT_EQ(FindFirst((dir / "*.none").c_str(), &data), 0);
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    EXPECT_EQ(FindFirst((dir / "absent.txt").c_str(), &data), 0);
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    EXPECT_EQ(FindFirst((dir / InFolder("nofolder", "*")).c_str(), &data), 0);
    EXPECT_EQ(LastError(), kErrorPathNotFound);
    EXPECT_EQ(FindFirst((dir / InFolder("nofolder", "x.txt")).c_str(), &data), 0);
    EXPECT_EQ(LastError(), kErrorPathNotFound);

    testing_support::WriteText(dir / "only.txt", "");
    FindHandle search = FindFirst((dir / "*.txt").c_str(), &data);
    ASSERT_NE(search, 0);
    EXPECT_STREQ(data.name, "only.txt");
    EXPECT_FALSE(FindNext(search, &data));
    EXPECT_EQ(LastError(), kErrorNoMoreFiles);
    EXPECT_FALSE(FindNext(search, &data));  // stays at the end
    FindClose(search);
}

// What Wine's FindFirstFileA answers for a name below a file: an invalid name (123) when the
// file is the folder named, the path not found (3) deeper down; wildcards in a folder are an
// invalid name too. Opening such a name is always "path not found".
TEST(FindErrors, NameBelowAFileIsAnInvalidName) {
    ScratchDir dir;
    testing_support::WriteText(dir / "file.txt", "x");
    const std::string file = dir / "file.txt";
    struct Case {
        std::string pattern;
        uint32_t error;
    } cases[] = {{InFolder(file, "x"), 123},
                 {InFolder(file, "*"), 123},
                 {InFolder(InFolder(file, "x"), "y"), kErrorPathNotFound},
                 {InFolder(InFolder(file, "x"), "*"), kErrorPathNotFound},
                 {dir / InFolder("fi*", "x"), 123},
                 {dir / InFolder("f?le.txt", "*"), 123}};
    for (const Case& c : cases) {
        FindData data;
        EXPECT_EQ(FindFirst(c.pattern.c_str(), &data), 0) << c.pattern;
        EXPECT_EQ(LastError(), c.error) << c.pattern;
    }
    EXPECT_EQ(OpenFile(InFolder(file, "x").c_str(), FileAccess::Read, FileCreation::OpenExisting, false), 0);
    EXPECT_EQ(LastError(), kErrorPathNotFound);
}

}  // namespace

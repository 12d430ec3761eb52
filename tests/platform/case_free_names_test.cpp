// Names as Windows finds them: folders listed sorted by name, case-free, and every operation
// finding a name in other letter case. The tables hold what Wine's FindFirstFileA/FindNextFileA
// and CreateFileA answered on this machine; the same cases run there against the real calls
// and here against the POSIX layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/fault_injection.h"
#include "platform/name_order.h"
#include "platform/platform.h"
#include "platform/testing/files.h"
#include "test_support.h"

namespace {

using namespace platform;
using testing_support::ScratchDir;
using testing_support::SystemListing;

// A name of the tables (written in UTF-8) as this system's narrow calls take it: UTF-8 on
// POSIX, code page 1252 on Windows.
std::string Native(const std::string& utf8) {
#ifdef _WIN32
    // The characters of 0x80-0x9F in code page 1252; 0xA0-0xFF are those of Latin-1.
    static const std::pair<uint32_t, unsigned char> kHigh[] = {
        {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
        {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
        {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
        {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
        {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F}};
    std::vector<uint32_t> units;
    NameUnits(utf8.c_str(), units);
    std::string out;
    for (uint32_t unit : units) {
        unsigned char byte = unit <= 0xFF ? static_cast<unsigned char>(unit) : '?';
        for (const auto& [codePoint, value] : kHigh)
            if (codePoint == unit) byte = value;
        out += static_cast<char>(byte);
    }
    return out;
#else
    return utf8;
#endif
}

// The tables' characters beyond ASCII exist only where names are UTF-8 or in code page 1252.
bool CodePageKnown() { return NameCodePage() == kCodePageUtf8 || NameCodePage() == 1252; }

// Paths are joined by hand: std::filesystem would take narrow names for UTF-8 on Windows too.
std::string In(const std::string& folder, const std::string& name) { return folder + kPathSeparator + name; }
std::string In(const ScratchDir& dir, const std::string& name) { return In(dir.path().string(), name); }

bool CreateFileNamed(const std::string& path) {
    const FileHandle file = OpenFile(path.c_str(), FileAccess::ReadWrite, FileCreation::CreateNew, false);
    if (file == 0) return false;
    CloseFile(file);
    return true;
}

// The name the system reports for `path` (a search without wildcards), or "" when none.
std::string FoundName(const std::string& path) {
    FindData data;
    const FindHandle search = FindFirst(path.c_str(), &data);
    if (search == 0) return "";
    FindClose(search);
    return data.name;
}

// Wine's order for these names: case-free by upper case ('_' after 'Z'), a name before the
// longer names it begins, then characters beyond ASCII by the upper case of their UTF-16 unit:
// 'é' sorts as 'É', 'ÿ' as 'Ÿ' (U+0178) after 'Œ' and 'Š', and '€' and '™' last.
const char* const kListingOrder[] = {
    "-dash", ".dot", "0", "00", "0a", "9", "A", "aB", "ab-", "Abc", "ab_", "b", "Z", "[", "_under",
    "~tilde", "¡", "«", "µ", "Ä", "é", "×", "ß", "÷", "Œ", "š", "ÿ", "ž", "ƒ", "‰", "€", "™"};

TEST(ListingOrder, FolderIsListedSortedByNameCaseFree) {
    if (!CodePageKnown()) GTEST_SKIP() << "names are in code page " << NameCodePage();
    ScratchDir dir;
    std::vector<std::string> expected;
    // Created in reverse, so that creation order cannot pass for the listing order.
    for (size_t i = std::size(kListingOrder); i-- > 0;) {
        const std::string name = Native(kListingOrder[i]);
        ASSERT_TRUE(CreateFileNamed(In(dir, name))) << kListingOrder[i];
        expected.insert(expected.begin(), name);
    }
    EXPECT_EQ(SystemListing(dir / "*"), expected);
    EXPECT_EQ(SystemListing(dir / "*.*"), expected);

    // The walk itself: "." and ".." come first, then the names.
    FindData data;
    const FindHandle search = FindFirst((dir / "*").c_str(), &data);
    ASSERT_NE(search, 0);
    EXPECT_STREQ(data.name, ".");
    ASSERT_TRUE(FindNext(search, &data));
    EXPECT_STREQ(data.name, "..");
    FindClose(search);
}

TEST(ListingOrder, FolderOfUserFoldersInMixedCase) {
    ScratchDir dir;
    for (const char* name : {"0000000b", "0000000A", "0000000c", "_old", "00000010", "0000000B1"})
        std::filesystem::create_directory(dir.path() / name);
    EXPECT_EQ(SystemListing(dir / "*.*"),
              (std::vector<std::string>{"0000000A", "0000000b", "0000000B1", "0000000c", "00000010", "_old"}));
}

// A name written in other letter case finds the existing entry, which keeps its own spelling.
struct LookupCase {
    const char* created;  // path below the scratch folder, '/' between elements
    const char* asked;
    bool found;
};

const LookupCase kLookups[] = {
    {"UserSummary.rtf", "usersummary.RTF", true},
    {"Users/0000000B/usersummary.rtf", "users/0000000b/UserSummary.rtf", true},
    {"userconfig.hdb", "UserConfig.hdb", true},
    {"é.txt", "É.TXT", true},
    {"ÿ", "Ÿ", true},
    {"š", "Š", true},
    {"œ", "Œ", true},
    {"Ä", "ä", true},
    // Only one-to-one case pairs: 'ß' is not "SS", 'µ' has no upper case in the table.
    {"ß", "SS", false},
    {"µ", "M", false},
    {"a", "à", false},
};

std::string Path(const ScratchDir& dir, const std::string& relative) {
    std::string path = dir.path().string();
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const size_t end = slash == std::string::npos ? relative.size() : slash;
        path = In(path, Native(relative.substr(start, end - start)));
        start = end + 1;
    }
    return path;
}

std::string LastElement(const std::string& relative) { return Native(relative.substr(relative.rfind('/') + 1)); }

TEST(CaseFreeLookup, EveryNameFindsItsEntryInOtherCase) {
    if (!CodePageKnown()) GTEST_SKIP() << "names are in code page " << NameCodePage();
    for (const LookupCase& c : kLookups) {
        ScratchDir dir;
        const std::string created = Path(dir, c.created);
        const std::string relative = c.created;
        if (relative.find('/') != std::string::npos)
            std::filesystem::create_directories(dir.path() / relative.substr(0, relative.rfind('/')));
        ASSERT_TRUE(CreateFileNamed(created)) << c.created;
        const std::string asked = Path(dir, c.asked);
        EXPECT_EQ(FoundName(asked), c.found ? LastElement(c.created) : "") << c.asked;
        const FileHandle file = OpenFile(asked.c_str(), FileAccess::Read, FileCreation::OpenExisting, false);
        EXPECT_EQ(file != 0, c.found) << c.asked;
        if (file != 0) CloseFile(file);
        if (!c.found) {
            EXPECT_EQ(LastError(), kErrorFileNotFound) << c.asked;
        }
    }
}

TEST(CaseFreeLookup, SearchPatternsFoldTheFolderAndEveryLetter) {
    if (!CodePageKnown()) GTEST_SKIP() << "names are in code page " << NameCodePage();
    ScratchDir dir;
    std::filesystem::create_directories(dir.path() / "Users" / "Sub");
    for (const char* name : {"é.txt", "E.TXT", "readme"}) ASSERT_TRUE(CreateFileNamed(In(dir / "Users", Native(name))));

    EXPECT_EQ(SystemListing(In(dir / "USERS", "*.*")), (std::vector<std::string>{"E.TXT", "readme", "Sub", Native("é.txt")}));
    EXPECT_EQ(SystemListing(In(dir / "users", Native("É*"))), std::vector<std::string>{Native("é.txt")});
    EXPECT_EQ(SystemListing(In(dir / "users", "*.txt")), (std::vector<std::string>{"E.TXT", Native("é.txt")}));
    EXPECT_EQ(SystemListing(In(In(dir / "uSERS", "sub"), "*")), std::vector<std::string>{});
}

TEST(CaseFreeLookup, NewNamesKeepTheCaseGivenAndExistingOnesAreNotDuplicated) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "Users");
    ASSERT_TRUE(CreateFileNamed(dir / "UserConfig.hdb"));

    // The folder is found case-free; the new file takes the name as written.
    ASSERT_TRUE(CreateFileNamed(In(dir / "users", "NewFile.Txt")));
    EXPECT_EQ(SystemListing(In(dir / "Users", "*")), std::vector<std::string>{"NewFile.Txt"});

    // A name that exists in other case is that file: no second file beside it.
    EXPECT_FALSE(CreateFileNamed(dir / "userconfig.HDB"));
    EXPECT_EQ(LastError(), kErrorFileExists);
    const FileHandle again =
        OpenFile((dir / "USERCONFIG.hdb").c_str(), FileAccess::ReadWrite, FileCreation::OpenAlways, false);
    ASSERT_NE(again, 0);
    CloseFile(again);
    EXPECT_EQ(SystemListing(dir / "*"), (std::vector<std::string>{"UserConfig.hdb", "Users"}));
}

TEST(CaseFreeLookup, RenameDeleteAndAttributesFindTheEntryInOtherCase) {
    ScratchDir dir;
    ASSERT_TRUE(CreateFileNamed(dir / "UserConfig.hdb"));
    ASSERT_TRUE(CreateFileNamed(dir / "Other.txt"));

    // The target keeps the case given; an existing target in other case refuses the move.
    EXPECT_FALSE(MoveFile((dir / "userconfig.hdb").c_str(), (dir / "OTHER.TXT").c_str()));
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    ASSERT_TRUE(MoveFile((dir / "userconfig.hdb").c_str(), (dir / "UserConfig.hdb.old").c_str()));
    EXPECT_EQ(SystemListing(dir / "*"), (std::vector<std::string>{"Other.txt", "UserConfig.hdb.old"}));
    // Onto itself in other case: success, and the name stays as it was (as Wine does).
    EXPECT_TRUE(MoveFile((dir / "other.txt").c_str(), (dir / "OTHER.txt").c_str()));
    EXPECT_EQ(FoundName(dir / "other.txt"), "Other.txt");

    ASSERT_TRUE(SetFileReadOnly((dir / "OTHER.TXT").c_str()));
    FindData data;
    const FindHandle search = FindFirst((dir / "other.txt").c_str(), &data);
    ASSERT_NE(search, 0);
    FindClose(search);
    EXPECT_NE(data.attributes & kAttributeReadOnly, 0u);
    EXPECT_FALSE(DeleteFile((dir / "oThEr.TxT").c_str())) << "read-only";
    ASSERT_TRUE(SetFileAttributesNormal((dir / "other.TXT").c_str()));
    EXPECT_TRUE(DeleteFile((dir / "oThEr.TxT").c_str()));
    EXPECT_TRUE(DeleteFile((dir / "USERCONFIG.HDB.OLD").c_str()));
    EXPECT_EQ(SystemListing(dir / "*"), std::vector<std::string>{});
}

#ifndef _WIN32
// A case-sensitive file system can hold names that differ only in case; Windows volumes cannot,
// so these cases exist only here. Wine lists them by their units ("A" before "a") and a name
// written exactly finds itself.
TEST(CaseFreeLookup, NamesThatDifferOnlyInCase) {
    ScratchDir dir;
    for (const char* name : {"aB", "Ab", "AB", "b", "B"}) testing_support::WriteText(dir / name, name);
    EXPECT_EQ(SystemListing(dir / "*"), (std::vector<std::string>{"AB", "Ab", "aB", "B", "b"}));
    EXPECT_EQ(FoundName(dir / "aB"), "aB");  // as written first
    EXPECT_EQ(FoundName(dir / "ab"), "AB");  // else the first in listing order
    EXPECT_EQ(FoundName(dir / "Ab"), "Ab");
}

// Bytes that are not UTF-8 stand for themselves: found as written, never equal to another byte
// case-free, listed after every character.
TEST(CaseFreeLookup, NamesThatAreNotUtf8) {
    ScratchDir dir;
    for (const char* name : {"\xE9", "\xC9", "z", "\xC3\xA9"}) testing_support::WriteText(dir / name, name);
    EXPECT_EQ(SystemListing(dir / "*"), (std::vector<std::string>{"z", "\xC3\xA9", "\xC9", "\xE9"}));
    EXPECT_EQ(FoundName(dir / "\xE9"), "\xE9");
    EXPECT_EQ(FoundName(dir / "\xC3\x89"), "\xC3\xA9");  // 'É' finds 'é'
    std::filesystem::remove(dir.path() / "\xE9");
    EXPECT_EQ(FoundName(dir / "\xE9"), "") << "0xE9 is not 0xC9 in other case";
}

// A folder that cannot be read leaves the question open: the lookup fails with that error and
// never answers "not found", which callers would take for "absent" and create the file anew.
TEST(CaseFreeLookup, FolderThatCannotBeReadIsNeverNotFound) {
    ScratchDir dir;
    testing_support::WriteText(dir / "UserConfig.hdb", "old");
    ClearFaults();
    ResetCallCounts();
    EXPECT_EQ(FoundName(dir / "UserConfig.hdb"), "UserConfig.hdb");
    EXPECT_EQ(CallCount(CallKind::FolderRead), 0u) << "a name that exists as written needs no folder read";

    const std::string asked = dir / "userconfig.hdb";
    InjectFault(CallKind::FolderRead, 1, Fault{kErrorAccessDenied});
    FindData data;
    EXPECT_EQ(FindFirst(asked.c_str(), &data), 0);
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    InjectFault(CallKind::FolderRead, 1, Fault{kErrorAccessDenied});
    EXPECT_EQ(OpenFile(asked.c_str(), FileAccess::ReadWrite, FileCreation::OpenAlways, false), 0);
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    InjectFault(CallKind::FolderRead, 1);
    EXPECT_FALSE(DeleteFile(asked.c_str()));
    EXPECT_NE(LastError(), kErrorFileNotFound);
    InjectFault(CallKind::FolderRead, 1);
    EXPECT_FALSE(MoveFile(asked.c_str(), (dir / "moved").c_str()));
    EXPECT_EQ(SystemListing(dir / "*"), std::vector<std::string>{"UserConfig.hdb"});
    EXPECT_EQ(testing_support::ReadBytes(dir / "UserConfig.hdb").size(), 3u);

    // A folder that is not there is an answer: the name is not found.
    EXPECT_EQ(FindFirst(In(dir / "missing", "x").c_str(), &data), 0);
    EXPECT_EQ(LastError(), kErrorPathNotFound);
}
#endif

TEST(NameOrder, UpperCaseTableAsTheVolumeFoldsNames) {
    struct Case {
        uint32_t unit, upper;
    } cases[] = {{'a', 'A'},       {'z', 'Z'},       {'A', 'A'},       {'_', '_'},       {0xE9, 0xC9},
                 {0xFF, 0x178},    {0xF7, 0xF7},     {0xB5, 0xB5},     {0xDF, 0xDF},     {0x131, 0x131},
                 {0x101, 0x100},   {0x100, 0x100},   {0x17F, 0x17F},   {0x3C9, 0x3A9},   {0x3C2, 0x3C2},
                 {0x450, 0x400},   {0x10D0, 0x1C90}, {0xAB70, 0x13A0}, {0xFF41, 0xFF21}, {0x1C5, 0x1C5},
                 {0xD801, 0xD801}, {0x100E9, 0x100E9}};
    for (const Case& c : cases) EXPECT_EQ(UpcaseUnit(c.unit), c.upper) << std::hex << c.unit;
}

TEST(NameOrder, CompareAndMatch) {
    EXPECT_LT(CompareNames("A", "a"), 0);
    EXPECT_GT(CompareNames("a", "A"), 0);
    EXPECT_EQ(CompareNames("same", "same"), 0);
    EXPECT_LT(CompareNames("a", "aa"), 0);
    EXPECT_LT(CompareNames("Z", "_"), 0) << "upper case: '_' (0x5F) after 'Z'";
    EXPECT_GT(CompareNames("_", "a"), 0) << "also after small letters, which fold to capitals";
    EXPECT_LT(CompareNames("\xF0\x9F\x98\x80", "\xEF\xBC\xA1"), 0) << "by UTF-16 units: a surrogate before U+FF21";
    EXPECT_TRUE(SameNameCaseFree("UserSummary.rtf", "USERSUMMARY.RTF"));
    EXPECT_TRUE(SameNameCaseFree("\xC3\xA9", "\xC3\x89"));
    EXPECT_FALSE(SameNameCaseFree("\xE9", "\xC9"));
    EXPECT_FALSE(SameNameCaseFree("ab", "abc"));
    // A sequence cut short is bytes, not a character.
    std::vector<uint32_t> units;
    NameUnits("\xC3", units);
    EXPECT_EQ(units, std::vector<uint32_t>{0x100C3});
    units.clear();
    NameUnits("\xE0\x80\xAF" "a", units);  // an overlong '/'
    EXPECT_EQ(units, (std::vector<uint32_t>{0x100E0, 0x10080, 0x100AF, 'a'}));
}

}  // namespace

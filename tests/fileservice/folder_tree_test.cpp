// Folder trees: making whole paths, deleting and pruning trees, listing, measuring, letter case
// and temporary names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "journal_reader.h"
#include "platform/code_page.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/resources.h"
#include "platform/volumes.h"
#include "platform/testing/code_page.h"
#include "test_support.h"

using namespace fileservice;

namespace {

namespace stdfs = std::filesystem;
using platform::CallKind;
using testing_support::JournalScope;
using testing_support::ScratchDir;
using testing_support::WriteText;

std::string Join(const std::string& folder, const std::string& name) {
    return folder + platform::kPathSeparator + name;
}

class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SearchSlotCount(), 0); }
    void TearDown() override {
        platform::ClearFaults();
        EXPECT_EQ(SearchSlotCount(), 0);
        EXPECT_EQ(OpenFileCount(), 0);
    }

    // dir/tree with files at two levels and an empty folder.
    std::string MakeTree() {
        const std::string tree = dir / "tree";
        stdfs::create_directories(Join(Join(tree, "sub"), "empty"));
        WriteText(Join(tree, "top.txt"), "top");
        WriteText(Join(Join(tree, "sub"), "inner.txt"), "inner");
        return tree;
    }

    FileService fs;
    ScratchDir dir;
};

TEST_F(FolderTreeTest, CreateFolderPathMakesEveryLevelAndJournalsOnlyTheDeepest) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string a = dir / "a", b = Join(a, "b"), c = Join(b, "c");
    EXPECT_EQ(fs.CreateFolderPath(c.c_str()), 0);
    EXPECT_TRUE(stdfs::is_directory(c));
    EXPECT_EQ(fs.CreateFolderPath(c.c_str()), 0);  // already there: nothing more
    const std::string d = Join(c, "d");
    EXPECT_EQ(fs.CreateFolderPath((d + platform::kPathSeparator).c_str()), 0);  // a trailing separator
    EXPECT_TRUE(stdfs::is_directory(d));
    EXPECT_EQ(journal.Lines(), (std::vector<std::string>{"FolderCreated\t" + c, "FolderCreated\t" + d}));
}

#ifndef _WIN32
// Windows reads names in its own code page; here the code page of the walk can be chosen, and
// folder names may hold any byte but the slash.
TEST_F(FolderTreeTest, CreateFolderPathNeverSplitsACharacterAtATrailByte) {
    ASSERT_TRUE(platform::SelectCodePage(932));
    const std::string kanji = "\x95\x5C";  // one character whose trail byte is the backslash
    const std::string path = Join(dir / kanji, "sub");
    const int32_t result = fs.CreateFolderPath(path.c_str());
    platform::SelectCodePage(0);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(stdfs::is_directory(path));
    EXPECT_FALSE(stdfs::exists(dir / "\x95")) << "the lead byte alone was taken for a folder";
}
#endif

TEST_F(FolderTreeTest, CreateFolderPathStopsAtTheFirstLevelItCannotMake) {
    const std::string a = dir / "a", b = Join(a, "b"), c = Join(b, "c");
    platform::InjectFault(CallKind::Folder, 2);
    EXPECT_EQ(fs.CreateFolderPath(c.c_str()), -1);
    EXPECT_TRUE(stdfs::is_directory(a)) << "the levels made before stay";
    EXPECT_FALSE(stdfs::exists(b));

    WriteText(dir / "file", "in the way");
    EXPECT_EQ(fs.CreateFolderPath(Join(dir / "file", "x").c_str()), -1) << "nothing can be made in a file";
    const std::string tooLong = Join(dir.path().string(), std::string(kPathBufferSize, 'x'));
    EXPECT_EQ(fs.CreateFolderPath(tooLong.c_str()), -1);
}

// Any name already there ends the walk, as it does for the levels above: a file in the place of
// the last level is left as it is, and nothing is journaled.
TEST_F(FolderTreeTest, CreateFolderPathLeavesAFileAtTheLastLevel) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string file = Join(dir / "a", "file");
    stdfs::create_directories(dir / "a");
    WriteText(file, "in the way");
    EXPECT_EQ(fs.CreateFolderPath(file.c_str()), 0);
    EXPECT_TRUE(stdfs::is_regular_file(file));
    EXPECT_EQ(stdfs::file_size(file), 10u);
    EXPECT_TRUE(journal.Lines().empty());
}

TEST_F(FolderTreeTest, CreateFolderPathNeverMakesAServerOrShare) {
    JournalScope journal(fs, dir / "journal.txt");
    EXPECT_EQ(fs.CreateFolderPath("\\\\server\\share"), 0);
    EXPECT_EQ(fs.CreateFolderPath("\\\\server\\share\\"), 0);
    EXPECT_TRUE(journal.Lines().empty());
    if (platform::kDriveLetters) {
        // A drive that the system does not know makes the whole path fail before anything is made.
        char missing[] = "?:\\pellucor\\made";
        for (char letter = 'z'; letter > 'c'; --letter) {
            const char root[4] = {letter, ':', '\\', '\0'};
            if (!stdfs::exists(root)) {
                missing[0] = letter;
                break;
            }
        }
        ASSERT_NE(missing[0], '?');
        EXPECT_EQ(fs.CreateFolderPath(missing), -1);
        EXPECT_EQ(fs.CreateFolderPath("c:\\"), 0);
        EXPECT_EQ(fs.CreateFolderPath("c:"), 0);
    }
}

TEST_F(FolderTreeTest, DeleteFolderRefusesATreeUnlessRecursive) {
    const std::string tree = MakeTree();
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 0), -1);
    EXPECT_TRUE(stdfs::exists(Join(tree, "top.txt")));

    // Each level goes in the order the system lists it, each folder after its contents.
    const std::string sub = Join(tree, "sub");
    std::vector<std::string> expected;
    for (const std::string& name : testing_support::SystemListing(Join(tree, "*.*"))) {
        if (name == "sub") {
            for (const std::string& inner : testing_support::SystemListing(Join(sub, "*.*")))
                expected.push_back((inner == "empty" ? "FolderDeleted\t" : "FileDeleted\t") + Join(sub, inner));
            expected.push_back("FolderDeleted\t" + sub);
        } else {
            expected.push_back("FileDeleted\t" + Join(tree, name));
        }
    }
    expected.push_back("FolderDeleted\t" + tree);
    ASSERT_EQ(expected.size(), 5u);

    JournalScope journal(fs, dir / "journal.txt");
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 1), 0);
    EXPECT_FALSE(stdfs::exists(tree));
    EXPECT_EQ(journal.Lines(), expected);
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 1), -1);  // gone already
}

TEST_F(FolderTreeTest, ADeletionWithoutSearchSlotsFailsCleanly) {
    const std::string tree = MakeTree();
    WriteText(dir / "outside.txt", "stays");
    // Leave two free slots: the top level and "sub" get one each, "sub\empty" none.
    std::vector<int32_t> held;
    const std::string pattern = Join(dir.path().string(), "*.*");
    while (SearchSlotCount() < kSearchTableSize - 2) {
        const int32_t slot = fs.SearchOpen(pattern.c_str());
        ASSERT_GE(slot, 0);
        held.push_back(slot);
    }
    const std::string deep = Join(Join(Join(tree, "sub"), "empty"), "deeper");
    stdfs::create_directory(deep);
    WriteText(Join(deep, "last.txt"), "unreached");
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 1), -1);
    for (int32_t slot : held) fs.SearchClose(slot);
    EXPECT_TRUE(stdfs::exists(Join(deep, "last.txt"))) << "beyond the slots nothing is touched";
    EXPECT_TRUE(stdfs::exists(dir / "outside.txt"));
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 1), 0) << "with slots free again the tree goes";
}

#ifndef _WIN32
// Paths beyond the Windows path limit and folder links are made here with the host's own calls.
TEST_F(FolderTreeTest, DeleteFolderLeavesNamesThatDoNotFitAndEverythingOutside) {
    const std::string tree = dir / "tree";
    std::string deep = tree;
    while (deep.size() < kPathBufferSize + 40) deep = Join(deep, std::string(30, 'd'));
    stdfs::create_directories(deep);
    WriteText(Join(deep, "f"), "too deep to name");
    WriteText(dir / "outside.txt", "stays");
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 1), -1);
    EXPECT_TRUE(stdfs::exists(Join(deep, "f")));
    EXPECT_TRUE(stdfs::exists(dir / "outside.txt"));
    stdfs::remove_all(tree);
    stdfs::create_directory(tree);
    stdfs::create_directory(dir / "elsewhere");
    WriteText(dir / "elsewhere/kept.txt", "k");
    stdfs::create_directory_symlink(dir / "elsewhere", tree + "/link");
    EXPECT_EQ(fs.DeleteFolder(tree.c_str(), 1), 0);
    EXPECT_FALSE(stdfs::exists(tree));
    EXPECT_TRUE(stdfs::exists(dir / "elsewhere/kept.txt")) << "a link is removed, never followed";
}
#endif

TEST_F(FolderTreeTest, FolderExists) {
    const std::string tree = MakeTree();
    EXPECT_EQ(fs.FolderExists(tree.c_str()), 1);
    EXPECT_EQ(fs.FolderExists((tree + platform::kPathSeparator).c_str()), 1);
    EXPECT_EQ(fs.FolderExists((dir / "absent").c_str()), 0);
}

TEST_F(FolderTreeTest, PruneRemovesEmptyFoldersUpToStopAt) {
    const std::string stop = dir / "stop";
    const std::string a = Join(stop, "a"), b = Join(a, "b"), c = Join(b, "c");
    stdfs::create_directories(c);
    // A trailing separator on stopAt stops at the same folder.
    EXPECT_EQ(fs.PruneEmptyFolders((stop + platform::kPathSeparator).c_str(), c.c_str()), 0);
    EXPECT_FALSE(stdfs::exists(a));
    EXPECT_TRUE(stdfs::is_directory(stop));

    stdfs::create_directories(c);
    WriteText(Join(a, "keep.txt"), "k");
    EXPECT_EQ(fs.PruneEmptyFolders(stop.c_str(), c.c_str()), 0);
    EXPECT_FALSE(stdfs::exists(b));
    EXPECT_TRUE(stdfs::exists(Join(a, "keep.txt")));
    // The first folder is looked at before any comparison: stopAt itself goes when it is empty.
    const std::string lone = dir / "lone";
    stdfs::create_directory(lone);
    EXPECT_EQ(fs.PruneEmptyFolders(lone.c_str(), lone.c_str()), 0);
    EXPECT_FALSE(stdfs::exists(lone));
}

TEST_F(FolderTreeTest, ListFolderInListingOrder) {
    FolderEntry* list = reinterpret_cast<FolderEntry*>(1);
    stdfs::create_directory(dir / "empty");
    EXPECT_EQ(fs.ListFolder((dir / "empty").c_str(), &list), 0);
    EXPECT_EQ(list, nullptr);

    const std::string tree = MakeTree();
    ASSERT_EQ(fs.ListFolder(tree.c_str(), &list), 0);
    std::vector<std::pair<std::string, int32_t>> entries, expected;
    for (FolderEntry* e = list; e; e = e->next) entries.emplace_back(e->name, e->isFile);
    FreeFolderList(list);
    for (const std::string& name : testing_support::SystemListing(Join(tree, "*.*")))
        expected.emplace_back(name, name == "sub" ? 0 : 1);
    EXPECT_EQ(expected.size(), 2u);
    EXPECT_EQ(entries, expected);

    platform::InjectFault(CallKind::Allocate, 2);
    list = reinterpret_cast<FolderEntry*>(1);
    EXPECT_EQ(fs.ListFolder(tree.c_str(), &list), -1);
    EXPECT_EQ(list, nullptr);
}

TEST_F(FolderTreeTest, FolderSizeAddsFilesAndOptionallySubFolders) {
    const std::string tree = MakeTree();
    EXPECT_EQ(fs.FolderSize(tree.c_str(), 0), 3u);
    EXPECT_EQ(fs.FolderSize(tree.c_str(), 1), 8u);
    EXPECT_EQ(fs.FolderSize((dir / "absent").c_str(), 1), 0u);
#ifndef _WIN32
    stdfs::create_directory_symlink(tree, Join(Join(tree, "sub"), "loop"));
    EXPECT_EQ(fs.FolderSize(tree.c_str(), 1), 8u) << "a link back up is not followed";
#endif
}

TEST_F(FolderTreeTest, MatchFolderCaseTakesTheSpellingOfThePath) {
    const std::string on = dir / "data", onDisk = Join(on, "users");
    stdfs::create_directories(onDisk);
    const std::string written = Join(Join(dir / "Data", "USERS"), "file.txt");
    platform::FindData probe;
    const platform::FindHandle search = platform::FindFirst((dir / "DATA").c_str(), &probe);
    if (!search) GTEST_SKIP() << "names are told apart by case here, so no other spelling finds a folder";
    platform::FindClose(search);
    // Wine takes a rename to the same name in other letters for one that changes nothing.
    const std::string trial = dir / "trial";
    stdfs::create_directory(trial);
    platform::MoveFile(trial.c_str(), (dir / "TRIAL").c_str());
    const bool renames = stdfs::directory_entry(dir / "TRIAL").exists() &&
                         testing_support::SystemListing(dir / "TRIA?") == std::vector<std::string>{"TRIAL"};
    stdfs::remove(dir / "TRIAL");
    if (!renames) GTEST_SKIP() << "this system does not change a name's letter case by renaming";
    EXPECT_EQ(fs.MatchFolderCase(written.c_str()), 0);
    std::vector<std::string> names;
    for (const auto& e : stdfs::recursive_directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"Data", "USERS"}));
}

TEST_F(FolderTreeTest, TempFileNamesCountUpAndPassOverTakenNames) {
    char first[kTempNameSize], second[kTempNameSize], third[kTempNameSize];
    ASSERT_EQ(fs.TempFileName(first), 0);
    ASSERT_EQ(fs.TempFileName(second), 0);
    const std::string a = first, b = second;
    ASSERT_GT(a.size(), 15u);
    const std::string folder = stdfs::path(a).parent_path().string();
    EXPECT_EQ(stdfs::path(folder).filename(), "data");
    char self[kPathBufferSize];
    ASSERT_GT(platform::ExecutablePath(self, sizeof self), 0u);
    EXPECT_EQ(stdfs::path(folder).parent_path(), stdfs::path(self).parent_path());
    const auto number = [](const std::string& name) {
        const std::string file = stdfs::path(name).filename().string();
        EXPECT_EQ(file.substr(0, 3), "qrm");
        EXPECT_EQ(file.substr(11), ".tmp");
        return std::strtoul(file.substr(3, 8).c_str(), nullptr, 16);
    };
    EXPECT_EQ(number(b), number(a) + 1);
    EXPECT_FALSE(stdfs::exists(a)) << "the file is not made";

    // The next two numbers are taken, one with some extension and one with none.
    const bool madeFolder = stdfs::create_directory(folder);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08lx", number(b) + 1);
    const std::string takenWith = Join(folder, std::string("qrm") + digits + ".dat");
    std::snprintf(digits, sizeof digits, "%08lx", number(b) + 2);
    const std::string takenWithout = Join(folder, std::string("qrm") + digits);
    WriteText(takenWith, "x");
    WriteText(takenWithout, "x");
    EXPECT_EQ(fs.TempFileName(third), 0);
    stdfs::remove(takenWith);
    stdfs::remove(takenWithout);
    if (madeFolder) stdfs::remove(folder);
    EXPECT_EQ(number(third), number(b) + 3);

    char tiny[8] = "x";
    EXPECT_EQ(fs.TempFileName(tiny, sizeof tiny), -1);
    EXPECT_STREQ(tiny, "");
}

}  // namespace

// Copying, moving, comparing, attributes, times and volume space by name.
#include <gtest/gtest.h>

#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "journal_reader.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/time.h"
#include "platform/volumes.h"
#include "platform/testing/files.h"
#include "support/date_time_converter.h"
#include "test_support.h"

using namespace fileservice;

namespace {

using platform::CallKind;
using testing_support::JournalScope;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

std::string Text(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

class FileCopyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenFileCount(), 0); }
    void TearDown() override {
        platform::ClearFaults();
        EXPECT_EQ(OpenFileCount(), 0);
    }
    bool IsReadOnly(const std::string& name) {
        return (fs.FileGetAttributes(name.c_str()) & static_cast<int32_t>(platform::kAttributeReadOnly)) != 0;
    }

    FileService fs;
    ScratchDir dir;
};

TEST_F(FileCopyTest, FreeSpaceDecidesBeforeAnythingIsCopied) {
    const std::string source = dir / "ten", target = dir / "copy";
    WriteText(source, "0123456789");
    platform::InjectDiskSpace(9, 1000);
    EXPECT_EQ(fs.FileCopy(source.c_str(), target.c_str()), kNotEnoughSpace);
    EXPECT_FALSE(std::filesystem::exists(target));
    platform::InjectDiskSpace(10, 1000);  // exactly enough
    EXPECT_EQ(fs.FileCopy(source.c_str(), target.c_str()), 0);
    EXPECT_EQ(Text(target), "0123456789");
}

TEST_F(FileCopyTest, CopyReplacesAReadOnlyTargetAndNeverKeepsReadOnly) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string source = dir / "source", target = dir / "target";
    WriteText(source, "new contents");
    ASSERT_TRUE(platform::SetFileReadOnly(source.c_str()));
    WriteText(target, "old");
    ASSERT_TRUE(platform::SetFileReadOnly(target.c_str()));
    EXPECT_EQ(fs.FileCopy(source.c_str(), target.c_str()), 0);
    EXPECT_EQ(Text(target), "new contents");
    EXPECT_FALSE(IsReadOnly(target));
    EXPECT_TRUE(IsReadOnly(source));
    EXPECT_EQ(journal.Lines(), std::vector<std::string>{"FileChanged\t" + target});
    platform::SetFileAttributesNormal(source.c_str());
}

TEST_F(FileCopyTest, FailedCopiesReportFailureAndJournalNothing) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string source = dir / "source", target = dir / "target";
    EXPECT_EQ(fs.FileCopy(source.c_str(), target.c_str()), -1);  // no source
    WriteBytes(source, std::vector<uint8_t>(100000, 7));
    platform::InjectFault(CallKind::Copy, 1, {.error = platform::kErrorDiskFull, .shortCount = 4096});
    EXPECT_EQ(fs.FileCopy(source.c_str(), target.c_str()), -1);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(journal.Lines().empty());
}

TEST_F(FileCopyTest, MoveReplacesTheTargetAndJournalsThreeLinesInOrder) {
    const std::string source = dir / "source", target = dir / "target";
    WriteText(source, "moving");
    WriteText(target, "in the way");
    JournalScope journal(fs, dir / "journal.txt");
    EXPECT_EQ(fs.FileMove(source.c_str(), target.c_str()), 0);
    EXPECT_EQ(Text(target), "moving");
    EXPECT_FALSE(std::filesystem::exists(source));
    const std::vector<std::string> expected{"FileDeleted\t" + target, "FileDeleted\t" + source,
                                            "FileChanged\t" + target};
    EXPECT_EQ(journal.Lines(), expected);
}

TEST_F(FileCopyTest, MoveWithoutASourceLeavesTheTarget) {
    const std::string target = dir / "target";
    WriteText(target, "keep");
    EXPECT_EQ(fs.FileMove((dir / "absent").c_str(), target.c_str()), -1);
    EXPECT_EQ(Text(target), "keep");
    EXPECT_EQ(fs.FileMove((dir / "absent").c_str(), (dir / "free").c_str()), -1);
}

// A rename between volumes gets "not the same device" from the system (an armed fault gives the
// same answer): the move copies, then deletes the source, and never loses the target first.
TEST_F(FileCopyTest, MoveBetweenVolumesCopiesThenDeletesAndKeepsTheTargetUntilThen) {
    const std::string source = dir / "source", target = dir / "target";
    const platform::Fault otherVolume{.error = platform::kErrorNotSameDevice};
    struct Case {
        const char* what;
        bool targetThere;
        bool targetHeld;  // someone holds the target open: it cannot be replaced
    };
    for (const Case c : {Case{"to a free name", false, false}, Case{"over a target", true, false},
                         Case{"over a target held open", true, true}}) {
        WriteText(source, "moving");
        std::filesystem::remove(target);
        if (c.targetThere) WriteText(target, "in the way");
        platform::FileHandle held = 0;
        if (c.targetHeld)
            held = platform::OpenFile(target.c_str(), platform::FileAccess::Read, platform::FileCreation::OpenExisting, false);
        // Every rename of the move answers so, the second try's too.
        platform::InjectFault(CallKind::Rename, 1, otherVolume, 2);
        const int32_t moved = fs.FileMove(source.c_str(), target.c_str());
        platform::ClearFaults();
        if (held) platform::CloseFile(held);
        EXPECT_FALSE(std::filesystem::exists(target + ".moving")) << c.what;
        if (c.targetHeld) {
            EXPECT_EQ(moved, -1) << c.what;
            EXPECT_EQ(Text(target), "in the way") << c.what;
            EXPECT_EQ(Text(source), "moving") << c.what;
            continue;
        }
        EXPECT_EQ(moved, 0) << c.what;
        EXPECT_EQ(Text(target), "moving") << c.what;
        EXPECT_FALSE(std::filesystem::exists(source)) << c.what;
    }
}

// A real pair of volumes, where the machine has them: the build's folder and a memory folder.
TEST_F(FileCopyTest, MoveBetweenRealVolumes) {
#ifdef _WIN32
    GTEST_SKIP() << "MoveFileA moves between volumes itself";
#else
    std::error_code error;
    if (!std::filesystem::is_directory("/dev/shm", error)) GTEST_SKIP() << "no /dev/shm";
    const std::filesystem::path here = std::filesystem::current_path();
    struct stat a {}, b {};
    if (stat(here.c_str(), &a) != 0 || stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "/dev/shm is on the same volume as " << here;
    const std::string source = (here / "pellucor-move-source").string();
    const std::string target = "/dev/shm/pellucor-move-target-" + std::to_string(getpid());
    WriteText(source, "moving");
    WriteText(target, "in the way");
    EXPECT_EQ(fs.FileMove(source.c_str(), target.c_str()), 0);
    EXPECT_EQ(Text(target), "moving");
    EXPECT_FALSE(std::filesystem::exists(source));
    std::filesystem::remove(target, error);
    std::filesystem::remove(source, error);
#endif
}

TEST_F(FileCopyTest, CompareCodes) {
    const std::string empty1 = dir / "e1", empty2 = dir / "e2";
    WriteText(empty1, "");
    WriteText(empty2, "");
    // Equal sizes spanning several 64 KiB reads, differing in their very last byte.
    std::vector<uint8_t> big(200001, 'a');
    const std::string same1 = dir / "s1", same2 = dir / "s2", last = dir / "last";
    WriteBytes(same1, big);
    WriteBytes(same2, big);
    big.back() = 'b';
    WriteBytes(last, big);
    const std::string shorter = dir / "short";
    WriteBytes(shorter, std::vector<uint8_t>(200000, 'a'));

    struct Case {
        const char* what;
        std::string a, b;
        int32_t expected;
    };
    const Case cases[] = {
        {"two empty files", empty1, empty2, kFilesIdentical},
        {"equal contents", same1, same2, kFilesIdentical},
        {"last byte differs", same1, last, kFilesDiffer},
        {"sizes differ", same1, shorter, kFilesDiffer},
        {"both missing", dir / "m1", dir / "m2", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(fs.FileCompare(c.a.c_str(), c.b.c_str()), c.expected) << c.what;

    platform::ResetCallCounts();
    EXPECT_EQ(fs.FileCompare(same1.c_str(), shorter.c_str()), kFilesDiffer);
    EXPECT_EQ(platform::CallCount(CallKind::Open), 0u) << "sizes alone decide";
}

TEST_F(FileCopyTest, CompareFailuresCloseAndFreeEverything) {
    const std::string a = dir / "a", b = dir / "b";
    WriteText(a, "same");
    WriteText(b, "same");
    platform::InjectFault(CallKind::Read, 2);
    EXPECT_EQ(fs.FileCompare(a.c_str(), b.c_str()), kCompareReadError);
    platform::InjectFault(CallKind::Allocate, 2);
    EXPECT_EQ(fs.FileCompare(a.c_str(), b.c_str()), kCompareOutOfMemory);
    platform::InjectFault(CallKind::Open, 2, {.error = platform::kErrorAccessDenied});
    EXPECT_EQ(fs.FileCompare(a.c_str(), b.c_str()), kOpenErrorAccess);
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(FileCopyTest, AttributesTakeOnlyTheSettableBits) {
    const std::string name = dir / "flags";
    WriteText(name, "x");
    EXPECT_EQ(fs.FileSetAttributes(name.c_str(), platform::kAttributeDirectory | platform::kAttributeReadOnly), 0);
    const int32_t attributes = fs.FileGetAttributes(name.c_str());
    EXPECT_EQ(attributes & static_cast<int32_t>(platform::kAttributeDirectory), 0) << "still a file";
    EXPECT_TRUE(IsReadOnly(name));
    EXPECT_EQ(fs.FileSetAttributes(name.c_str(), platform::kAttributeNormal), 0);
    EXPECT_FALSE(IsReadOnly(name));
    EXPECT_EQ(fs.FileGetAttributes((dir / "absent").c_str()), -1);
    EXPECT_EQ(fs.FileSetAttributes((dir / "absent").c_str(), 0), 0);
}

TEST_F(FileCopyTest, WriteTimeStampsAPackedTimeOrNow) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string name = dir / "stamped";
    WriteText(name, "t");
    const support::DateTimeConverter converter;
    const uint32_t packed = converter.PackTime({2004, 6, 15, 13, 45, 30});
    ASSERT_EQ(fs.FileSetWriteTime(name.c_str(), packed), 0);
    EXPECT_EQ(fs.FileWriteTime(name.c_str()), packed);

    const uint64_t before = platform::CurrentFileTime();
    ASSERT_EQ(fs.FileSetWriteTime(name.c_str(), 0), 0);
    const uint64_t after = platform::CurrentFileTime();
    const int32_t slot = fs.SearchOpen(name.c_str());
    ASSERT_GE(slot, 0);
    uint64_t creation = 0, access = 0, write = 0;
    fs.SearchTimes(slot, &creation, &access, &write);
    fs.SearchClose(slot);
    for (uint64_t t : {access, write}) {
        // Allow for file systems that keep whole seconds.
        EXPECT_GE(t + 10000000ull, before);
        EXPECT_LE(t, after);
    }
    if (platform::kDriveLetters) {
        EXPECT_EQ(creation, write);
    }

    EXPECT_EQ(fs.FileSetWriteTime(name.c_str(), converter.PackTime({2004, 2, 30, 0, 0, 0})), -1)
        << "a day that does not exist is not stamped";
    EXPECT_EQ(fs.FileSetWriteTime((dir / "absent").c_str(), 0), -1);
    EXPECT_EQ(journal.Lines(), (std::vector<std::string>{"FileChanged\t" + name, "FileChanged\t" + name}));
}

TEST_F(FileCopyTest, SetTimesLeavesANullTimeAlone) {
    const std::string name = dir / "times";
    WriteText(name, "t");
    const uint64_t first = 130000000000000000ull, second = 131000000000000000ull;
    ASSERT_EQ(fs.FileSetTimes(name.c_str(), &first, &first, &first), 0);
    ASSERT_EQ(fs.FileSetTimes(name.c_str(), nullptr, &second, nullptr), 0);
    const int32_t slot = fs.SearchOpen(name.c_str());
    ASSERT_GE(slot, 0);
    uint64_t creation = 0, access = 0, write = 0;
    fs.SearchTimes(slot, &creation, &access, &write);
    fs.SearchClose(slot);
    EXPECT_EQ(write, first);
    EXPECT_EQ(access, second);
    platform::InjectFault(CallKind::Attributes, 1);
    EXPECT_EQ(fs.FileSetTimes(name.c_str(), &second, &second, &second), -1);
}

TEST_F(FileCopyTest, SpaceQueriesAskTheVolumeRoot) {
    struct Case {
        const char* path;
        const char* root;  // where paths begin with drive letters
    };
    const Case cases[] = {
        {"\\\\server\\share\\folder\\file", "\\\\server\\share\\"},
        {"\\\\server\\share", "\\\\server\\share\\"},
        {"\\\\server", "\\\\server"},
        {"c:\\data\\file", "c:\\"},
        {"d:file", "d:\\"},
        {"relative\\file", ""},
    };
    platform::InjectDiskSpace(123, 456);
    for (const Case& c : cases) {
        uint64_t space = 0, size = 0;
        fs.FileDiskFree(c.path, &space);
        EXPECT_STREQ(platform::LastDiskSpaceQuery(), platform::kDriveLetters ? c.root : c.path) << c.path;
        fs.FileDiskSize(c.path, &size);
        EXPECT_EQ(space, 123u);
        EXPECT_EQ(size, 456u);
    }
    platform::ClearFaults();
    uint64_t space = 1, size = 1;
    fs.FileDiskFree(dir.path().string().c_str(), &space);
    fs.FileDiskSize(dir.path().string().c_str(), &size);
    EXPECT_GT(size, 0u);
    EXPECT_LE(space, size);
    platform::InjectFault(CallKind::Space, 1);
    fs.FileDiskFree(dir.path().string().c_str(), &space);
    EXPECT_EQ(space, 0u) << "an unanswered query gives no space";
}

}  // namespace

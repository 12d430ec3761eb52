// Copies, replacing renames, attributes, file times, folders and free space through the
// platform layer. Wine's answers to the same calls are the reference for the POSIX layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/time.h"
#include "platform/volumes.h"
#include "platform/testing/files.h"
#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace platform;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteText;

std::string Text(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

class Held {
public:
    Held(const std::string& name, FileAccess access)
        : handle_(OpenFile(name.c_str(), access, FileCreation::OpenExisting, false)) {}
    ~Held() {
        if (handle_) CloseFile(handle_);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    FileHandle get() const { return handle_; }

private:
    FileHandle handle_;
};

uint64_t WriteTimeOf(const std::string& name) {
    FindData data;
    const FindHandle search = FindFirst(name.c_str(), &data);
    if (!search) return 0;
    FindClose(search);
    return data.lastWriteTime;
}

class FileOperations : public ::testing::Test {
protected:
    void TearDown() override { ClearFaults(); }
    ScratchDir dir;
};

TEST_F(FileOperations, CopyFollowsTheShareRulesOfBothFiles) {
    const std::string source = dir / "source", target = dir / "target";
    WriteText(source, "fresh bytes");
    WriteText(target, "old");
    {
        // A file that a writer holds is copied as it stands, but not deleted while copied.
        Held writer(source, FileAccess::ReadWrite);
        ASSERT_TRUE(writer.get());
        ASSERT_TRUE(CopyFile(source.c_str(), target.c_str()));
        EXPECT_EQ(Text(target), "fresh bytes");
    }
    {
        Held reader(target, FileAccess::Read);
        ASSERT_TRUE(reader.get());
        EXPECT_FALSE(CopyFile(source.c_str(), target.c_str()));
        EXPECT_EQ(LastError(), kErrorSharingViolation);
    }
    EXPECT_FALSE(CopyFile(source.c_str(), source.c_str()));  // never empties its own source
    EXPECT_EQ(Text(source), "fresh bytes");
    EXPECT_FALSE(CopyFile((dir / "absent").c_str(), target.c_str()));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    EXPECT_EQ(Text(target), "fresh bytes");
}

TEST_F(FileOperations, CopyRefusesAReadOnlyTargetAndKeepsTheSourcesWriteTime) {
    const std::string source = dir / "source", target = dir / "target";
    WriteText(source, "0123456789");
    const uint64_t hourAgo = CurrentFileTime() - 36000000000ull;
    {
        Held file(source, FileAccess::ReadWrite);
        ASSERT_TRUE(SetFileTimes(file.get(), nullptr, nullptr, &hourAgo));
    }
    WriteText(target, "old");
    ASSERT_TRUE(SetFileReadOnly(target.c_str()));
    EXPECT_FALSE(CopyFile(source.c_str(), target.c_str()));
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    EXPECT_EQ(Text(target), "old");

    ASSERT_TRUE(SetFileAttributesNormal(target.c_str()));
    ASSERT_TRUE(CopyFile(source.c_str(), target.c_str()));
    EXPECT_EQ(Text(target), "0123456789");
    // File times keep 100-ns units on some systems and whole seconds on others.
    EXPECT_NEAR(static_cast<double>(WriteTimeOf(target)), static_cast<double>(hourAgo), 2e7);
}

TEST_F(FileOperations, ACopyThatBreaksOffLeavesNoTarget) {
    const std::string source = dir / "source", target = dir / "target";
    testing_support::WriteBytes(source, std::vector<uint8_t>(200000, 'x'));
    for (const std::string& before : {std::string(), std::string("older copy")}) {
        if (!before.empty()) WriteText(target, before);
        InjectFault(CallKind::Copy, 1, {.error = kErrorDiskFull, .shortCount = 100000});
        EXPECT_FALSE(CopyFile(source.c_str(), target.c_str()));
        EXPECT_EQ(LastError(), kErrorDiskFull);
        EXPECT_FALSE(std::filesystem::exists(target)) << "older target: " << !before.empty();
    }
    EXPECT_EQ(ReadBytes(source).size(), 200000u);
}

TEST_F(FileOperations, ReplaceTakesTheTargetsPlaceInOneStep) {
    const std::string source = dir / "source", target = dir / "target";
    WriteText(source, "new");
    WriteText(target, "old");
    {
        Held reader(target, FileAccess::Read);
        EXPECT_FALSE(ReplaceFile(source.c_str(), target.c_str()));
        EXPECT_EQ(LastError(), kErrorAccessDenied);
    }
    {
        Held reader(source, FileAccess::Read);
        EXPECT_FALSE(ReplaceFile(source.c_str(), target.c_str()));
        EXPECT_EQ(LastError(), kErrorSharingViolation);
    }
    EXPECT_EQ(Text(target), "old");
    ASSERT_TRUE(SetFileReadOnly(target.c_str()));  // replaced all the same
    ASSERT_TRUE(ReplaceFile(source.c_str(), target.c_str()));
    EXPECT_EQ(Text(target), "new");
    EXPECT_FALSE(std::filesystem::exists(source));
    EXPECT_FALSE(ReplaceFile(source.c_str(), target.c_str()));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    ASSERT_TRUE(ReplaceFile(target.c_str(), (dir / "fresh").c_str()));  // no target is fine too
    EXPECT_EQ(Text(dir / "fresh"), "new");
}

TEST_F(FileOperations, WhoHoldsAFile) {
    const std::string name = dir / "held";
    WriteText(name, "h");
    EXPECT_FALSE(HeldForWriting(name.c_str()));
    EXPECT_FALSE(HeldByAnyone(name.c_str()));
    {
        Held reader(name, FileAccess::Read);
        EXPECT_FALSE(HeldForWriting(name.c_str()));
        EXPECT_TRUE(HeldByAnyone(name.c_str()));
    }
    {
        Held writer(name, FileAccess::ReadWrite);
        EXPECT_TRUE(HeldForWriting(name.c_str()));
        EXPECT_TRUE(HeldByAnyone(name.c_str()));
    }
    EXPECT_FALSE(HeldByAnyone((dir / "absent").c_str()));
    InjectFault(CallKind::Flush, 1);
    EXPECT_FALSE(FlushNamedFile(name.c_str()));
    EXPECT_TRUE(FlushNamedFile(name.c_str()));
    EXPECT_FALSE(FlushNamedFile((dir / "absent").c_str()));
}

TEST_F(FileOperations, AttributesOfFilesAndFolders) {
    const std::string file = dir / "file";
    WriteText(file, "x");
    EXPECT_EQ(GetFileAttributes(file.c_str()), kAttributeArchive);
    EXPECT_EQ(GetFileAttributes(dir.path().string().c_str()), kAttributeDirectory);
    EXPECT_EQ(GetFileAttributes((dir / "absent").c_str()), kInvalidAttributes);
    EXPECT_EQ(LastError(), kErrorFileNotFound);

    ASSERT_TRUE(SetFileAttributes(file.c_str(), kAttributeReadOnly | kAttributeArchive));
    EXPECT_EQ(GetFileAttributes(file.c_str()), kAttributeReadOnly | kAttributeArchive);
    ASSERT_TRUE(SetFileAttributes(file.c_str(), kAttributeNormal));
    EXPECT_EQ(GetFileAttributes(file.c_str()), kAttributeArchive);
    // A folder keeps taking entries, whatever is set on it.
    ASSERT_TRUE(SetFileAttributes(dir.path().string().c_str(), kAttributeReadOnly));
    WriteText(dir / "still", "writable");
    EXPECT_TRUE(std::filesystem::exists(dir / "still"));
}

TEST_F(FileOperations, TimesOfAnOpenFile) {
    const std::string name = dir / "stamped";
    WriteText(name, "t");
    const uint64_t stamp = 132000000000000000ull;  // 2019-04-14, a whole second
    {
        Held file(name, FileAccess::ReadWrite);
        ASSERT_TRUE(SetFileTimes(file.get(), &stamp, &stamp, &stamp));
    }
    FindData data;
    const FindHandle search = FindFirst(name.c_str(), &data);
    ASSERT_NE(search, 0);
    FindClose(search);
    EXPECT_EQ(data.lastWriteTime, stamp);
    EXPECT_EQ(data.lastAccessTime, stamp);
    {
        Held file(name, FileAccess::ReadWrite);
        const uint64_t later = stamp + 10000000ull;
        ASSERT_TRUE(SetFileTimes(file.get(), nullptr, &later, nullptr));  // null stays as it is
    }
    EXPECT_EQ(WriteTimeOf(name), stamp);
    const uint64_t now = CurrentFileTime();
    EXPECT_GT(now, stamp);
}

TEST_F(FileOperations, FoldersAreMadeAndRemovedOneAtATime) {
    const std::string folder = dir / "made";
    const std::string deeper = folder + kPathSeparator + "deeper";
    EXPECT_FALSE(CreateFolder((deeper + kPathSeparator + "x").c_str()));
    EXPECT_EQ(LastError(), kErrorPathNotFound);
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    EXPECT_FALSE(CreateFolder(folder.c_str()));
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    ASSERT_TRUE(CreateFolder(deeper.c_str()));

    EXPECT_FALSE(RemoveFolder(folder.c_str()));
    EXPECT_EQ(LastError(), 145u);  // not empty
    WriteText(dir / "file", "f");
    EXPECT_FALSE(RemoveFolder((dir / "file").c_str()));
    EXPECT_EQ(LastError(), 267u);  // not a folder
    ASSERT_TRUE(RemoveFolder(deeper.c_str()));
    ASSERT_TRUE(RemoveFolder(folder.c_str()));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(FlushFolder(dir.path().string().c_str()));

    InjectFault(CallKind::Folder, 1);
    EXPECT_FALSE(CreateFolder(folder.c_str()));
    EXPECT_FALSE(std::filesystem::exists(folder));
}

#ifndef _WIN32
// Bytes actually stored for `name`, holes not counted.
uint64_t StoredBytes(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : UINT64_MAX;
}

std::string BytesAt(const std::string& name, off_t offset, size_t count) {
    std::string bytes(count, '?');
    const int fd = ::open(name.c_str(), O_RDONLY);
    const ssize_t got = fd < 0 ? -1 : ::pread(fd, bytes.data(), count, offset);
    if (fd >= 0) ::close(fd);
    bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return bytes;
}

// A database written far beyond its end (a damaged header's block count) is mostly hole; its
// copy keeps the holes, and so the bytes, without reading or storing gigabytes of zeros.
TEST_F(FileOperations, CopyKeepsTheHolesOfASparseSource) {
    constexpr off_t kFar = off_t{1} << 32;  // where a block number of 2^24 lies
    const std::string source = dir / "source", target = dir / "target";
    struct Case {
        const char* what;
        off_t tailAt;  // where the last data lies, or -1 for a source that ends in a hole
        off_t length;
    };
    for (const Case& c : {Case{"data at both ends", kFar, kFar + 4}, Case{"a hole at the end", -1, kFar}}) {
        WriteText(source, "head");
        if (c.tailAt >= 0) {
            const int fd = ::open(source.c_str(), O_WRONLY);
            ASSERT_EQ(::pwrite(fd, "tail", 4, c.tailAt), 4);
            ::close(fd);
        } else {
            ASSERT_EQ(::truncate(source.c_str(), c.length), 0);
        }
        if (StoredBytes(source) > (1u << 20)) GTEST_SKIP() << "the file system here stores holes";
        ASSERT_TRUE(CopyFile(source.c_str(), target.c_str())) << c.what;
        EXPECT_EQ(std::filesystem::file_size(target), static_cast<uintmax_t>(c.length)) << c.what;
        EXPECT_EQ(BytesAt(target, 0, 4), "head") << c.what;
        EXPECT_EQ(BytesAt(target, kFar / 2, 4), std::string(4, '\0')) << c.what;
        if (c.tailAt >= 0) {
            EXPECT_EQ(BytesAt(target, c.tailAt, 8), "tail") << c.what;
        }
        EXPECT_LT(StoredBytes(target), 1u << 20) << c.what << ": the hole was written out";
    }
    // A copy that breaks off in the middle of the data still leaves no target.
    InjectFault(CallKind::Copy, 1, {.error = kErrorDiskFull, .shortCount = 2});
    EXPECT_FALSE(CopyFile(source.c_str(), target.c_str()));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(FileOperations, AFolderLinkIsRemovedAsALinkAndReportedAsOne) {
    const std::string outside = dir / "outside", link = dir / "link";
    std::filesystem::create_directory(outside);
    WriteText(outside + "/keep", "k");
    std::filesystem::create_directory_symlink(outside, link);
    EXPECT_EQ(GetFileAttributes(link.c_str()), kAttributeDirectory | kAttributeReparsePoint);
    ASSERT_TRUE(RemoveFolder(link.c_str()));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_TRUE(std::filesystem::exists(outside + "/keep"));
}
#endif

TEST_F(FileOperations, FreeSpaceOfARealVolumeAndAnInjectedOne) {
    uint64_t free = 0, total = 0;
    const std::string missing = (dir.path() / "not" / "yet" / "made").string();
    // Where there are drive letters the root is asked, elsewhere any path on the volume.
    const char* where = kDriveLetters ? nullptr : missing.c_str();
    ASSERT_TRUE(DiskSpace(where, &free, &total));
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);

    InjectDiskSpace(10, 100);
    ASSERT_TRUE(DiskSpace("c:\\", &free, &total));
    EXPECT_EQ(free, 10u);
    EXPECT_EQ(total, 100u);
    EXPECT_STREQ(LastDiskSpaceQuery(), "c:\\");
    InjectFault(CallKind::Space, 1);
    EXPECT_FALSE(DiskSpace("c:\\", &free, &total));
    EXPECT_EQ(free, 0u);
    EXPECT_EQ(total, 0u);
}

}  // namespace

namespace {

// Names made absolute and the temporary folder, as the console's Browse and read-back use them.
TEST(FolderNames, FullPathNameJoinsTheCurrentFolderAndRefusesWhatDoesNotFit) {
    char full[4096];
    ASSERT_TRUE(platform::FullPathName("sub", full, sizeof full));
    const std::string made = full;
    EXPECT_GT(made.size(), 4u);
    EXPECT_EQ(made.substr(made.size() - 4), std::string(1, platform::kPathSeparator) + "sub");
    const uint32_t attributes = platform::GetFileAttributes(made.substr(0, made.size() - 4).c_str());
    ASSERT_NE(attributes, platform::kInvalidAttributes) << "the current folder";
    EXPECT_NE(attributes & platform::kAttributeDirectory, 0u);

    char small[4];
    EXPECT_FALSE(platform::FullPathName("sub", small, sizeof small));
    EXPECT_FALSE(platform::FullPathName("", full, sizeof full));
}

TEST(FolderNames, TempFolderIsAFolderWithoutATrailingSeparator) {
    char folder[4096];
    ASSERT_TRUE(platform::TempFolder(folder, sizeof folder));
    const std::string text = folder;
    ASSERT_FALSE(text.empty());
    if (text.size() > 3) {
        EXPECT_NE(text.back(), platform::kPathSeparator);
    }
    const uint32_t attributes = platform::GetFileAttributes(folder);
    ASSERT_NE(attributes, platform::kInvalidAttributes);
    EXPECT_NE(attributes & platform::kAttributeDirectory, 0u);
    char small[2];
    EXPECT_FALSE(platform::TempFolder(small, sizeof small));
}

}  // namespace

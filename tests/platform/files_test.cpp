// Files through the platform layer: the share-read rule, access refusals, moves and deletes that
// never destroy data, and 64-bit positions. The same expectations hold on Windows and POSIX.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/testing/files.h"
#include "test_support.h"

namespace {

using namespace platform;
using testing_support::ScratchDir;

// Closes the handle when the test leaves its scope, also on a failed assertion.
class Opened {
public:
    explicit Opened(FileHandle handle) : handle_(handle) {}
    ~Opened() {
        if (handle_ != 0) CloseFile(handle_);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    FileHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }

private:
    FileHandle handle_;
};

FileHandle Open(const std::string& name, FileAccess access, FileCreation creation = FileCreation::OpenAlways,
                bool privileged = false) {
    return OpenFile(name.c_str(), access, creation, privileged);
}

std::string ReadAll(FileHandle file) {
    char buffer[64];
    uint32_t done = 0;
    EXPECT_TRUE(SeekFile(file, 0, SeekOrigin::Begin, nullptr));
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done));
    return std::string(buffer, done);
}

// Wine running as root lets the host itself write a read-only file, so the refusal cannot be
// seen there; Windows and the POSIX layer refuse it to everyone.
bool HostRefusesWritingReadOnly(const std::string& name) {
#ifdef _WIN32
    std::ofstream probe(name, std::ios::app);
    return !probe.is_open();
#else
    (void)name;
    return true;
#endif
}

TEST(ShareModes, SecondOpenFollowsTheShareReadRule) {
    struct Case {
        const char* name;
        FileAccess first;
        FileAccess second;
        uint32_t error;  // 0: the second open succeeds
    };
    const Case cases[] = {
        {"write then write", FileAccess::ReadWrite, FileAccess::ReadWrite, kErrorSharingViolation},
        {"write then read", FileAccess::ReadWrite, FileAccess::Read, kErrorSharingViolation},
        {"read then write", FileAccess::Read, FileAccess::ReadWrite, kErrorSharingViolation},
        {"read then read", FileAccess::Read, FileAccess::Read, 0},
    };
    ScratchDir dir;
    const std::string name = dir / "shared.bin";
    testing_support::WriteText(name, "kept");
    for (const Case& c : cases) {
        Opened first(Open(name, c.first));
        ASSERT_TRUE(first) << c.name;
        Opened second(Open(name, c.second));
        if (c.error == 0) {
            EXPECT_TRUE(second) << c.name;
        } else {
            EXPECT_FALSE(second) << c.name;
            EXPECT_EQ(LastError(), c.error) << c.name;
        }
    }
    {
        // A refused create must not empty a file that someone holds.
        Opened holder(Open(name, FileAccess::Read));
        ASSERT_TRUE(holder);
        Opened truncating(Open(name, FileAccess::ReadWrite, FileCreation::CreateAlways));
        EXPECT_FALSE(truncating);
        EXPECT_EQ(LastError(), kErrorSharingViolation);
    }
    EXPECT_EQ(testing_support::ReadBytes(name).size(), 4u);
}

TEST(ShareModes, CompatOpenReadsAFileHeldForWriting) {
    ScratchDir dir;
    const std::string name = dir / "busy.txt";
    Opened writer(Open(name, FileAccess::ReadWrite, FileCreation::CreateAlways));
    ASSERT_TRUE(writer);
    uint32_t done = 0;
    ASSERT_TRUE(WriteFile(writer.get(), "hello", 5, &done));
    ASSERT_TRUE(FlushFile(writer.get()));

    Opened compat(OpenFileCompat(name.c_str()));
    ASSERT_TRUE(compat);
    EXPECT_EQ(ReadAll(compat.get()), "hello");
}

TEST(ShareModes, CompatOpenSharesWritingButNotDeletingOrRenaming) {
    ScratchDir dir;
    const std::string name = dir / "held.txt";
    testing_support::WriteText(name, "data");
    Opened compat(OpenFileCompat(name.c_str()));
    ASSERT_TRUE(compat);
    {
        Opened writer(Open(name, FileAccess::ReadWrite));
        EXPECT_TRUE(writer);
    }
    EXPECT_FALSE(DeleteFile(name.c_str()));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_FALSE(MoveFile(name.c_str(), (dir / "moved.txt").c_str()));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_TRUE(std::filesystem::exists(name));
}

TEST(AccessRefusal, ReadOnlyFileRefusesEveryWriteOpen) {
    ScratchDir dir;
    const std::string name = dir / "locked.txt";
    testing_support::WriteText(name, "keep me");
    ASSERT_TRUE(SetFileReadOnly(name.c_str()));
    if (!HostRefusesWritingReadOnly(name)) GTEST_SKIP() << "this host lets every caller write read-only files";
    for (FileCreation creation : {FileCreation::OpenExisting, FileCreation::OpenAlways, FileCreation::CreateAlways}) {
        Opened writer(Open(name, FileAccess::ReadWrite, creation));
        EXPECT_FALSE(writer) << static_cast<int>(creation);
        EXPECT_EQ(LastError(), kErrorAccessDenied) << static_cast<int>(creation);
    }
    Opened reader(Open(name, FileAccess::Read, FileCreation::OpenExisting));
    ASSERT_TRUE(reader);
    EXPECT_EQ(ReadAll(reader.get()), "keep me");
}

TEST(AccessRefusal, FolderOpensOnlyWithPrivilegedAccess) {
    ScratchDir dir;
    const std::string folder = dir / "sub";
    std::filesystem::create_directory(folder);
    for (FileAccess access : {FileAccess::Read, FileAccess::ReadWrite}) {
        Opened plain(Open(folder, access, FileCreation::OpenExisting));
        EXPECT_FALSE(plain);
        EXPECT_EQ(LastError(), kErrorAccessDenied);
        Opened privileged(Open(folder, access, FileCreation::OpenExisting, true));
        EXPECT_TRUE(privileged);
    }
}

TEST(MissingNames, ErrorTellsMissingFileFromMissingFolder) {
    ScratchDir dir;
    const std::string file = dir / "absent.txt";
    const std::string inMissingFolder = dir / (std::string("nofolder") + kPathSeparator + "x.txt");

    EXPECT_FALSE(Opened(Open(file, FileAccess::Read, FileCreation::OpenExisting)));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    EXPECT_FALSE(Opened(Open(inMissingFolder, FileAccess::Read, FileCreation::OpenExisting)));
    EXPECT_EQ(LastError(), kErrorPathNotFound);
    EXPECT_FALSE(Opened(Open(inMissingFolder, FileAccess::ReadWrite, FileCreation::OpenAlways)));
    EXPECT_EQ(LastError(), kErrorPathNotFound);
    EXPECT_FALSE(Opened(OpenFileCompat(file.c_str())));
    EXPECT_EQ(LastError(), kErrorFileNotFound);

    EXPECT_FALSE(DeleteFile(file.c_str()));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    EXPECT_FALSE(DeleteFile(inMissingFolder.c_str()));
    EXPECT_EQ(LastError(), kErrorPathNotFound);
    EXPECT_FALSE(MoveFile(file.c_str(), (dir / "b.txt").c_str()));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST(OpenModes, CreationDecidesWhatHappensToContents) {
    ScratchDir dir;
    const std::string name = dir / "modes.txt";
    testing_support::WriteText(name, "abc");
    {
        Opened keep(Open(name, FileAccess::ReadWrite, FileCreation::OpenAlways));
        ASSERT_TRUE(keep);
        EXPECT_EQ(ReadAll(keep.get()), "abc");
    }
    {
        Opened empty(Open(name, FileAccess::ReadWrite, FileCreation::CreateAlways));
        ASSERT_TRUE(empty);
        EXPECT_EQ(ReadAll(empty.get()), "");
    }
    {
        Opened created(Open(dir / "new.txt", FileAccess::ReadWrite, FileCreation::OpenAlways));
        EXPECT_TRUE(created);
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "new.txt"));
    // Windows drops trailing dots and blanks of the last element.
    {
        Opened dotted(Open(dir / "dotted. .", FileAccess::ReadWrite, FileCreation::OpenAlways));
        EXPECT_TRUE(dotted);
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "dotted"));
}

TEST(MoveFile, OntoAnExistingNameFailsAndChangesNothing) {
    ScratchDir dir;
    const std::string source = dir / "source.txt";
    const std::string target = dir / "target.txt";
    testing_support::WriteText(source, "source");
    testing_support::WriteText(target, "target");
    EXPECT_FALSE(MoveFile(source.c_str(), target.c_str()));
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    EXPECT_EQ(testing_support::ReadBytes(source).size(), 6u);
    EXPECT_EQ(testing_support::ReadBytes(target), std::vector<uint8_t>({'t', 'a', 'r', 'g', 'e', 't'}));

    {
        Opened reader(Open(source, FileAccess::Read, FileCreation::OpenExisting));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(MoveFile(source.c_str(), (dir / "elsewhere.txt").c_str()));
        EXPECT_EQ(LastError(), kErrorSharingViolation);
    }
    ASSERT_TRUE(MoveFile(source.c_str(), (dir / "renamed.txt").c_str()));
    EXPECT_FALSE(std::filesystem::exists(source));
    EXPECT_EQ(testing_support::ReadBytes(dir / "renamed.txt").size(), 6u);
}

TEST(DeleteFile, RefusesReadOnlyAndOpenFiles) {
    ScratchDir dir;
    const std::string name = dir / "victim.txt";
    testing_support::WriteText(name, "v");
    ASSERT_TRUE(SetFileReadOnly(name.c_str()));
    EXPECT_FALSE(DeleteFile(name.c_str()));
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    EXPECT_TRUE(std::filesystem::exists(name));

    ASSERT_TRUE(SetFileAttributesNormal(name.c_str()));
    {
        Opened reader(Open(name, FileAccess::Read, FileCreation::OpenExisting));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(DeleteFile(name.c_str()));
        EXPECT_EQ(LastError(), kErrorSharingViolation);
    }
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_TRUE(DeleteFile(name.c_str()));
    EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(SeekFile, ReachesPositionsPastFourGigabytes) {
    ScratchDir dir;
    const std::string name = dir / "sparse.bin";
    testing_support::WriteText(name, "AB");
    // Grown without writing: the rest of the file reads as zeros and takes no space.
    std::filesystem::resize_file(name, 0x180000000ull);
    Opened file(Open(name, FileAccess::Read, FileCreation::OpenExisting));
    ASSERT_TRUE(file);

    const uint64_t positions[] = {256, 0xFFFFFFFEull, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull,
                                  0x17FFFFFFFull, 0x200000000ull};
    for (uint64_t at : positions) {
        uint64_t reported = 0;
        ASSERT_TRUE(SeekFile(file.get(), static_cast<int64_t>(at), SeekOrigin::Begin, &reported)) << std::hex << at;
        EXPECT_EQ(reported, at);
        EXPECT_TRUE(SeekFile(file.get(), 0, SeekOrigin::Current, &reported));
        EXPECT_EQ(reported, at);
        // A position cut to its low half would land in "AB" and read 'A' or 'B'.
        char byte = 'x';
        uint32_t done = 0;
        ASSERT_TRUE(ReadFile(file.get(), &byte, 1, &done));
        EXPECT_EQ(done, at < 0x180000000ull ? 1u : 0u) << std::hex << at;
        if (done == 1) {
            EXPECT_EQ(byte, '\0') << std::hex << at;
        }
    }

    uint64_t size = 0;
    ASSERT_TRUE(SeekFile(file.get(), 0, SeekOrigin::End, &size));
    EXPECT_EQ(size, 0x180000000ull);
    ASSERT_TRUE(SeekFile(file.get(), -0x17FFFFFFFll, SeekOrigin::Current, &size));
    EXPECT_EQ(size, 1u);

    ASSERT_TRUE(SeekFile(file.get(), 0, SeekOrigin::Begin, nullptr));
    EXPECT_FALSE(SeekFile(file.get(), -1, SeekOrigin::Begin, nullptr));
    EXPECT_EQ(LastError(), kErrorNegativeSeek);
    EXPECT_TRUE(SeekFile(file.get(), 0, SeekOrigin::Current, &size));
    EXPECT_EQ(size, 0u);  // a refused move leaves the position
}

TEST(Attributes, ReadOnlyComesAndGoes) {
    ScratchDir dir;
    const std::string name = dir / "flag.txt";
    testing_support::WriteText(name, "f");
    ASSERT_TRUE(SetFileReadOnly(name.c_str()));
    FindData data;
    FindHandle search = FindFirst(name.c_str(), &data);
    ASSERT_NE(search, 0);
    FindClose(search);
    EXPECT_NE(data.attributes & kAttributeReadOnly, 0u);

    ASSERT_TRUE(SetFileAttributesNormal(name.c_str()));
    ASSERT_NE(search = FindFirst(name.c_str(), &data), 0);
    FindClose(search);
    EXPECT_EQ(data.attributes & kAttributeReadOnly, 0u);
    Opened writer(Open(name, FileAccess::ReadWrite, FileCreation::OpenExisting));
    EXPECT_TRUE(writer);

    EXPECT_FALSE(SetFileAttributesNormal((dir / "absent.txt").c_str()));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
}

}  // namespace

namespace {

TEST(LockFile, OneClaimAtATimeAndTheFileGoesWithIt) {
    ScratchDir dir;
    const std::string name = dir / "repository.lock";
    const FileHandle first = AcquireLockFile(name.c_str());
    ASSERT_NE(first, 0);
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(AcquireLockFile(name.c_str()), 0) << "a second claim must wait for the first";
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    ReleaseLockFile(first, name.c_str());
    EXPECT_FALSE(std::filesystem::exists(name)) << "releasing removes the lock file";

    // A file left behind by a holder that died holds no claim.
    testing_support::WriteText(name, "stale");
    const FileHandle second = AcquireLockFile(name.c_str());
    EXPECT_NE(second, 0);
    ReleaseLockFile(second, name.c_str());
}

TEST(LockFile, ClaimFailsWhereNoFileCanBeMade) {
    ScratchDir dir;
    const std::string inMissingFolder = dir / (std::string("nofolder") + kPathSeparator + "x.lock");
    EXPECT_EQ(AcquireLockFile(inMissingFolder.c_str()), 0);
    EXPECT_EQ(LastError(), kErrorPathNotFound);
}

// Every error the POSIX layer can report has words of its own, not the general text.
TEST(ErrorText, ErrorsThePlatformReportsHaveTheirOwnWords) {
    const std::string general = ErrorText(0xDEAD);
    for (uint32_t error : {kErrorFileNotFound, kErrorPathNotFound, kErrorTooManyOpenFiles, kErrorAccessDenied,
                           kErrorNotEnoughMemory, uint32_t{17}, kErrorNoMoreFiles, kErrorGenFailure,
                           kErrorSharingViolation, kErrorHandleEof, kErrorFileExists, kErrorInvalidParameter,
                           kErrorDiskFull, kErrorInvalidName, kErrorNegativeSeek, kErrorAlreadyExists, uint32_t{206}})
        EXPECT_NE(ErrorText(error), general) << "error " << error;
}

}  // namespace

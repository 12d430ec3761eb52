#include "fileservice/file_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/testing/files.h"
#include "test_support.h"

using namespace fileservice;

namespace {

using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteText;

class FileServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenFileCount(), 0) << "an earlier test left files open"; }
    void TearDown() override { platform::ClearFaults(); }

    FileService fs;
    ScratchDir dir;
};

TEST_F(FileServiceTest, OpensTakeTheLowestFreeIndex) {
    const std::string a = dir / "a", b = dir / "b";
    WriteText(a, "a");
    WriteText(b, "b");
    int32_t first = fs.FileOpen(a.c_str(), OpenRead);
    EXPECT_EQ(first, 0);
    fs.FileClose(first);
    EXPECT_EQ(fs.FileOpen(a.c_str(), OpenRead), 0);
    EXPECT_EQ(fs.FileOpen(b.c_str(), OpenRead), 1);
    fs.FileClose(0);
    FileService other;  // every object sees the same table
    EXPECT_EQ(other.FileOpen(a.c_str(), OpenRead), 0);
    fs.FileClose(0);
    fs.FileClose(1);
}

TEST_F(FileServiceTest, FullTableRefusesAndClosesTheExtraFile) {
    const std::string name = dir / "many";
    WriteText(name, "x");
    std::vector<int32_t> opened;
    for (int i = 0; i < kOpenFileTableSize; ++i) {
        const int32_t index = fs.FileOpen(name.c_str(), OpenRead);
        if (index < 0) {
            for (int32_t open : opened) fs.FileClose(open);
            GTEST_SKIP() << "the system allows fewer open files than the table holds";
        }
        opened.push_back(index);
    }
    EXPECT_EQ(opened.back(), kOpenFileTableSize - 1);
    platform::ResetCallCounts();
    EXPECT_EQ(fs.FileOpen(name.c_str(), OpenRead), -1);
    EXPECT_EQ(platform::CallCount(platform::CallKind::Close), 1u);  // no handle left behind
    EXPECT_EQ(OpenFileCount(), kOpenFileTableSize);
    fs.FileClose(77);
    EXPECT_EQ(fs.FileOpen(name.c_str(), OpenRead), 77);
    for (int32_t index : opened) fs.FileClose(index);
}

TEST_F(FileServiceTest, OpenModes) {
    const std::string name = dir / "modes";
    WriteText(name, "0123456789");

    int32_t f = fs.FileOpen(name.c_str(), OpenReadWrite);
    ASSERT_GE(f, 0);
    uint32_t high = 99;
    EXPECT_EQ(fs.FileTell(f, &high), 0u);
    EXPECT_EQ(high, 0u);
    fs.FileClose(f);
    EXPECT_EQ(ReadBytes(name).size(), 10u);

    f = fs.FileOpen(name.c_str(), OpenAppend);
    EXPECT_EQ(fs.FileTell(f, nullptr), 10u);
    EXPECT_EQ(fs.FileWrite(f, "ab", 2), 2);
    fs.FileClose(f);
    EXPECT_EQ(ReadBytes(name).size(), 12u);

    f = fs.FileOpen(name.c_str(), OpenCreate);
    fs.FileClose(f);
    EXPECT_TRUE(ReadBytes(name).empty());

    const std::string missing = dir / "missing";
    EXPECT_EQ(fs.FileOpen(missing.c_str(), OpenRead), -1);
    EXPECT_EQ(fs.FileOpen(missing.c_str(), OpenRead | OpenDetailedErrors), -1);
    EXPECT_EQ(fs.FileOpen(missing.c_str(), 7), -1);  // unknown modes open like OpenRead
    f = fs.FileOpen(missing.c_str(), OpenReadWrite);  // creates
    EXPECT_GE(f, 0);
    fs.FileClose(f);
    EXPECT_EQ(fs.FileExists(missing.c_str()), 1);
}

TEST_F(FileServiceTest, DetailedOpenErrors) {
    const std::string name = dir / "held";
    WriteText(name, "data");
    const int32_t writer = fs.FileOpen(name.c_str(), OpenReadWrite);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(fs.FileOpen(name.c_str(), OpenReadWrite | OpenDetailedErrors), kOpenErrorSharing);
    EXPECT_EQ(fs.FileOpen(name.c_str(), OpenReadWrite), -1);
    EXPECT_EQ(fs.FileOpen(name.c_str(), OpenCreate | OpenDetailedErrors), kOpenErrorSharing);
    // A reader gets in through the compatibility open, which shares writing.
    const int32_t reader = fs.FileOpen(name.c_str(), OpenRead | OpenDetailedErrors);
    ASSERT_GE(reader, 0);
    char text[8] = {};
    EXPECT_EQ(fs.FileRead(reader, text, sizeof text), 4);
    EXPECT_STREQ(text, "data");
    fs.FileClose(reader);
    fs.FileClose(writer);
    EXPECT_EQ(ReadBytes(name).size(), 4u);  // the refused OpenCreate truncated nothing

    const std::string locked = dir / "readonly";
    WriteText(locked, "r");
    ASSERT_TRUE(platform::SetFileReadOnly(locked.c_str()));
    EXPECT_EQ(fs.FileOpen(locked.c_str(), OpenReadWrite | OpenDetailedErrors), kOpenErrorAccess);
    EXPECT_EQ(fs.FileOpen(locked.c_str(), OpenReadWrite), -1);
    const int32_t plain = fs.FileOpen(locked.c_str(), OpenRead);
    EXPECT_GE(plain, 0);
    fs.FileClose(plain);

    const std::string folder = dir.path().string();
    EXPECT_EQ(fs.FileOpen(folder.c_str(), OpenRead | OpenDetailedErrors), kOpenErrorAccess);
    // Privileged access (NT family) opens a folder.
    ASSERT_EQ(fs.isNT, 1);
    const int32_t opened = fs.FileOpen(folder.c_str(), OpenRead | OpenPrivilegedAccess);
    EXPECT_GE(opened, 0);
    if (opened >= 0) fs.FileClose(opened);
}

TEST_F(FileServiceTest, ReadWriteSeekTell) {
    const std::string name = dir / "rw";
    int32_t f = fs.FileOpen(name.c_str(), OpenCreate);
    ASSERT_GE(f, 0);
    std::vector<char> block(600, 'x');
    EXPECT_EQ(fs.FileWrite(f, block.data(), 600), 600);
    EXPECT_EQ(fs.FileSeek(f, 0, 256), 0);
    uint32_t high = 7;
    EXPECT_EQ(fs.FileTell(f, &high), 256u);
    EXPECT_EQ(high, 0u);
    char buffer[400];
    EXPECT_EQ(fs.FileRead(f, buffer, 400), 344);
    EXPECT_EQ(fs.FileRead(f, buffer, 400), 0);  // end of file

    // Positions past 4 GiB, and one whose low half is all ones, are real positions.
    EXPECT_EQ(fs.FileSeek(f, 1, 16), 0);
    EXPECT_EQ(fs.FileTell(f, &high), 16u);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(fs.FileSeek(f, 0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(fs.FileTell(f, &high), 0xFFFFFFFFu);
    EXPECT_EQ(high, 0u);
    fs.FileClose(f);
}

// Small reads come from a buffer that the service fills in large reads; whatever mix of reads,
// seeks and writes follows, each sees the file as one system read, seek or write would.
TEST_F(FileServiceTest, BufferedReadsStayCoherentWithSeeksAndWrites) {
    const std::string name = dir / "coherent";
    std::vector<uint8_t> bytes(40000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    testing_support::WriteBytes(name, bytes);
    const int32_t f = fs.FileOpen(name.c_str(), OpenReadWrite);
    ASSERT_GE(f, 0);
    auto readByte = [&]() {
        uint8_t b = 0;
        return fs.FileRead(f, &b, 1) == 1 ? static_cast<int>(b) : -1;
    };
    // Byte by byte across the buffer's refills, to the end of the file.
    std::vector<uint8_t> seen;
    for (int b; (b = readByte()) >= 0;) seen.push_back(static_cast<uint8_t>(b));
    EXPECT_EQ(seen, bytes);
    EXPECT_EQ(fs.FileTell(f, nullptr), 40000u);

    // Back into the middle: a small read, then a large one continues exactly where it stopped.
    ASSERT_EQ(fs.FileSeek(f, 0, 1000), 0);
    EXPECT_EQ(readByte(), bytes[1000]);
    std::vector<uint8_t> large(3000);
    ASSERT_EQ(fs.FileRead(f, large.data(), 3000), 3000);
    EXPECT_TRUE(std::equal(large.begin(), large.end(), bytes.begin() + 1001));
    EXPECT_EQ(fs.FileTell(f, nullptr), 4001u);

    // A write lands at the entry's position, not where the buffer's read left the system, and
    // the bytes read afterwards are the written ones.
    ASSERT_EQ(fs.FileSeek(f, 0, 20), 0);
    EXPECT_EQ(readByte(), bytes[20]);
    ASSERT_EQ(fs.FileWrite(f, "WXYZ", 4), 4);
    EXPECT_EQ(fs.FileTell(f, nullptr), 25u);
    EXPECT_EQ(readByte(), bytes[25]);
    ASSERT_EQ(fs.FileSeek(f, 0, 19), 0);
    char around[7] = {};
    ASSERT_EQ(fs.FileRead(f, around, 6), 6);
    EXPECT_EQ(std::string(around + 2, 4), "WXYZ");
    EXPECT_EQ(static_cast<uint8_t>(around[0]), bytes[19]);

    // Seeks beyond the buffered bytes and beyond the end behave as the system's do.
    ASSERT_EQ(fs.FileSeek(f, 0, 39999), 0);
    EXPECT_EQ(readByte(), bytes[39999]);
    EXPECT_EQ(readByte(), -1);
    ASSERT_EQ(fs.FileSeek(f, 0, 50000), 0);
    EXPECT_EQ(readByte(), -1);
    fs.FileClose(f);

    std::copy_n("WXYZ", 4, bytes.begin() + 21);
    EXPECT_EQ(ReadBytes(name), bytes);
}

TEST_F(FileServiceTest, FailedBufferedReadsAndWritesReportAsTheSystemDoes) {
    const std::string name = dir / "buffered-faults";
    std::vector<uint8_t> bytes(20000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 251);
    testing_support::WriteBytes(name, bytes);
    const int32_t f = fs.FileOpen(name.c_str(), OpenReadWrite);
    ASSERT_GE(f, 0);
    uint8_t b = 0;
    ASSERT_EQ(fs.FileRead(f, &b, 1), 1);
    // The next system read is the refill after the buffered bytes: it fails, and then the entry
    // goes on where it stood.
    platform::InjectFault(platform::CallKind::Read, 1);
    size_t at = 1;
    for (; at < bytes.size(); ++at) {
        if (fs.FileRead(f, &b, 1) != 1) break;
        ASSERT_EQ(b, bytes[at]);
    }
    EXPECT_LT(at, bytes.size());
    platform::ClearFaults();
    ASSERT_EQ(fs.FileRead(f, &b, 1), 1);
    EXPECT_EQ(b, bytes[at]);

    // A write that cannot first put the system's position back writes nothing.
    platform::InjectFault(platform::CallKind::Seek, 1);
    EXPECT_EQ(fs.FileWrite(f, "Q", 1), kWriteErrorNothingWritten);
    platform::ClearFaults();
    EXPECT_EQ(fs.FileTell(f, nullptr), static_cast<uint32_t>(at + 1));
    fs.FileClose(f);
    EXPECT_EQ(ReadBytes(name), bytes);
}

TEST_F(FileServiceTest, TransferFailures) {
    const std::string name = dir / "faults";
    int32_t f = fs.FileOpen(name.c_str(), OpenCreate);
    ASSERT_GE(f, 0);
    EXPECT_EQ(fs.FileWrite(f, "", 0), 0);

    platform::InjectFault(platform::CallKind::Write, 1);
    EXPECT_EQ(fs.FileWrite(f, "abc", 3), kWriteErrorNothingWritten);
    platform::InjectFault(platform::CallKind::Write, 1, {.shortCount = 2});
    EXPECT_EQ(fs.FileWrite(f, "abc", 3), 2);
    platform::InjectFault(platform::CallKind::Seek, 1);
    EXPECT_EQ(fs.FileSeek(f, 0, 0), -1);
    platform::InjectFault(platform::CallKind::Seek, 1);
    uint32_t high = 5;
    EXPECT_EQ(fs.FileTell(f, &high), 0u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(fs.FileSeek(f, 0, 0), 0);
    platform::InjectFault(platform::CallKind::Read, 1);
    char buffer[4];
    EXPECT_EQ(fs.FileRead(f, buffer, 2), -1);
    EXPECT_EQ(fs.FileRead(f, buffer, 2), 2);  // the entry is still usable
    platform::InjectFault(platform::CallKind::Open, 1, {.error = platform::kErrorSharingViolation});
    EXPECT_EQ(fs.FileOpen((dir / "other").c_str(), OpenCreate | OpenDetailedErrors), kOpenErrorSharing);
    fs.FileClose(f);
}

TEST_F(FileServiceTest, ExistsFindsFilesFoldersAndPatterns) {
    WriteText(dir / "UserConfig.hdb", "x");
    EXPECT_EQ(fs.FileExists((dir / "UserConfig.hdb").c_str()), 1);
    EXPECT_EQ(fs.FileExists(dir.path().string().c_str()), 1);
    EXPECT_EQ(fs.FileExists((dir / "*.hdb").c_str()), 1);
    EXPECT_EQ(fs.FileExists((dir / "*.old*").c_str()), 0);
    EXPECT_EQ(fs.FileExists((dir / "UserConfig.hdb.old").c_str()), 0);
    EXPECT_EQ(fs.FileExists((dir / "no/such/folder/UserConfig.hdb").c_str()), 0);
    // Only "not found" means absent; any other failed search leaves the question open.
    const std::string present = dir / "UserConfig.hdb";
    platform::InjectFault(platform::CallKind::Find, 1);
    EXPECT_EQ(fs.FileExists(present.c_str()), -1);
    platform::InjectFault(platform::CallKind::Find, 1, {.error = platform::kErrorAccessDenied});
    EXPECT_EQ(fs.FileExists(present.c_str()), -1);
    platform::InjectFault(platform::CallKind::Find, 1, {.error = platform::kErrorFileNotFound});
    EXPECT_EQ(fs.FileExists(present.c_str()), 0);
    platform::InjectFault(platform::CallKind::Find, 1, {.error = platform::kErrorPathNotFound});
    EXPECT_EQ(fs.FileExists(present.c_str()), 0);
}

TEST_F(FileServiceTest, NewFileOnlyNeverTakesOverAnExistingFile) {
    const std::string name = dir / "precious";
    WriteText(name, "keep me");
    for (uint32_t mode : {OpenCreate, OpenReadWrite}) {
        EXPECT_EQ(fs.FileOpen(name.c_str(), mode | OpenNewFileOnly), -1) << mode;
        EXPECT_EQ(platform::LastError(), platform::kErrorFileExists) << mode;
    }
    const auto kept = ReadBytes(name);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");

    const std::string fresh = dir / "fresh";
    const int32_t f = fs.FileOpen(fresh.c_str(), OpenCreate | OpenNewFileOnly);
    ASSERT_GE(f, 0);
    EXPECT_EQ(fs.FileWrite(f, "new", 3), 3);
    fs.FileClose(f);
    EXPECT_EQ(ReadBytes(fresh).size(), 3u);
}

TEST_F(FileServiceTest, Delete) {
    const std::string missing = dir / "missing";
    EXPECT_EQ(fs.FileDelete(missing.c_str()), 0);

    const std::string readOnly = dir / "readonly";
    WriteText(readOnly, "r");
    ASSERT_TRUE(platform::SetFileReadOnly(readOnly.c_str()));
    EXPECT_EQ(fs.FileDelete(readOnly.c_str()), 0);
    EXPECT_EQ(fs.FileExists(readOnly.c_str()), 0);

    const std::string held = dir / "held";
    const int32_t f = fs.FileOpen(held.c_str(), OpenCreate);
    EXPECT_EQ(fs.FileDelete(held.c_str()), -1);
    EXPECT_EQ(fs.FileExists(held.c_str()), 1);
    fs.FileClose(f);
    EXPECT_EQ(fs.FileDelete(held.c_str()), 0);
    EXPECT_EQ(fs.FileExists(held.c_str()), 0);
}

TEST_F(FileServiceTest, RenameNeverReplaces) {
    const std::string source = dir / "source", target = dir / "target";
    WriteText(source, "source");
    WriteText(target, "target");
    EXPECT_EQ(fs.FileRename(target.c_str(), source.c_str()), 0);
    const auto kept = ReadBytes(target);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "target");
    EXPECT_EQ(fs.FileExists(source.c_str()), 1);

    const std::string fresh = dir / "fresh";
    EXPECT_EQ(fs.FileRename(fresh.c_str(), source.c_str()), 1);
    EXPECT_EQ(fs.FileExists(source.c_str()), 0);
    const auto moved = ReadBytes(fresh);
    EXPECT_EQ(std::string(moved.begin(), moved.end()), "source");
    EXPECT_EQ(fs.FileRename(source.c_str(), (dir / "nothing").c_str()), 0);

    // A file in use cannot be moved.
    const int32_t f = fs.FileOpen(fresh.c_str(), OpenReadWrite);
    EXPECT_EQ(fs.FileRename(source.c_str(), fresh.c_str()), 0);
    fs.FileClose(f);
}

std::vector<std::string> g_events;
void OnOpen(const char* name, uint32_t mode, int32_t index) {
    g_events.push_back("open " + std::string(name).substr(std::string(name).size() - 1) + " " +
                       std::to_string(mode) + " " + std::to_string(index));
}
void OnClose(int32_t index) { g_events.push_back("close " + std::to_string(index)); }
void OnRename(const char*, const char*) { g_events.push_back("rename"); }
void OnDelete(const char*) { g_events.push_back("delete"); }
void OnBegin(const char* operation, const char*) { g_events.push_back(std::string("begin ") + operation); }
void OnEnd() { g_events.push_back("end"); }

TEST_F(FileServiceTest, ActivityHooks) {
    const FileActivityHooks hooks{OnOpen, OnClose, OnRename, OnDelete, OnBegin, OnEnd};
    ASSERT_EQ(fs.SetFileActivityHooks(&hooks), 0);
    g_events.clear();
    const std::string a = dir / "a";
    const int32_t f = fs.FileOpen(a.c_str(), OpenCreate);
    fs.FileClose(f);
    fs.FileOpen((dir / "missing").c_str(), OpenRead);
    const int32_t quiet = fs.FileOpen(a.c_str(), OpenRead | OpenQuiet);
    fs.FileClose(quiet);
    fs.FileRename((dir / "b").c_str(), a.c_str());
    fs.FileDelete((dir / "b").c_str());
    const std::vector<std::string> expected{
        "begin FileOpen", "open a 0 0", "end", "close 0",                         // open, close
        "begin FileOpen", "end",                                                   // failed open
        "close 0",                                                                 // quiet open
        "begin FileRename", "rename", "end", "begin FileDelete", "delete", "end"};
    EXPECT_EQ(g_events, expected);

    platform::InjectFault(platform::CallKind::Allocate, 1);
    EXPECT_EQ(fs.SetFileActivityHooks(&hooks), -2);
    EXPECT_EQ(fs.SetFileActivityHooks(nullptr), 0);
    g_events.clear();
    fs.FileExists(a.c_str());
    fs.FileClose(fs.FileOpen(a.c_str(), OpenCreate));
    EXPECT_TRUE(g_events.empty());
}

TEST_F(FileServiceTest, NameCopyFailureStillOpens) {
    platform::InjectFault(platform::CallKind::Allocate, 1);
    const int32_t f = fs.FileOpen((dir / "n").c_str(), OpenCreate);
    EXPECT_GE(f, 0);
    EXPECT_EQ(fs.FileWrite(f, "x", 1), 1);
    fs.FileClose(f);
}

// Threads opening, writing and closing at once never receive the same index: each file ends up
// with exactly its own bytes.
TEST_F(FileServiceTest, ConcurrentOpensGetDistinctEntries) {
    constexpr int kThreads = 4, kFiles = 50;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            FileService own;
            for (int i = 0; i < kFiles; ++i) {
                const std::string name = dir / ("f" + std::to_string(t) + "-" + std::to_string(i));
                const int32_t f = own.FileOpen(name.c_str(), OpenCreate);
                if (f < 0 || own.FileWrite(f, name.c_str(), static_cast<uint32_t>(name.size())) !=
                                 static_cast<int32_t>(name.size()))
                    ++failures[t];
                if (f >= 0) own.FileClose(f);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = dir / ("f" + std::to_string(t) + "-" + std::to_string(i));
            const auto bytes = ReadBytes(name);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), name);
        }
    }
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST(FileServiceObjects, CountFollowsConstructionAndDestruction) {
    const int32_t before = FileServiceObjectCount();
    {
        FileService a;
        FileService b;
        EXPECT_EQ(FileServiceObjectCount(), before + 2);
    }
    EXPECT_EQ(FileServiceObjectCount(), before);
}

}  // namespace

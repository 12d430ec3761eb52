#include "hdb/database_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/testing/files.h"
#include "hdb_test_support.h"
#include "test_support.h"

using fileservice::FileService;
using fileservice::OpenFileCount;
using fileservice::OpenReadWrite;
using namespace hdb;

namespace {

using platform::CallKind;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WordAt;
using testing_support::WriteBytes;

// Header words by byte offset.
constexpr size_t kAppValue = 40, kBlockCount = 52, kKeyCount = 56, kFreeListBlock = 60, kFreeCount = 64,
                 kOpenForWrite = 68;

class DatabaseManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenDatabaseCount(), 0) << "an earlier test left a database open"; }
    void TearDown() override {
        platform::ClearFaults();
        EXPECT_EQ(OpenDatabaseCount(), 0);
        EXPECT_EQ(OpenFileCount(), 0);
    }

    // A closed, new database file.
    std::string NewDatabase(const std::string& name) {
        const std::string path = dir / name;
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
        EXPECT_GE(h, 0);
        manager.CloseDatabase(h);
        return path;
    }

    DatabaseManager manager;
    ScratchDir dir;
};

TEST_F(DatabaseManagerTest, NewDatabaseFile) {
    const std::string path = dir / "UserConfig.hdb";
    const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    EXPECT_EQ(h, 0);
    // The header is in the file from the open on; block 0 reaches it at the latest at close.
    auto open = ReadBytes(path);
    ASSERT_GE(open.size(), 256u);
    EXPECT_EQ(WordAt(open, kOpenForWrite), 1u);
    EXPECT_EQ(WordAt(open, kBlockCount), 0u);  // the counters reach the file at close
    EXPECT_EQ(manager.CloseDatabase(h), 0);

    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 512u);
    EXPECT_EQ(std::memcmp(bytes.data(), "Vantrell Hierarchal Database\r\n\0\0\0\0\0\0", 36), 0);
    const std::vector<std::pair<size_t, uint32_t>> words{
        {36, 1}, {kAppValue, 0}, {44, 72}, {48, 0}, {kBlockCount, 1}, {kKeyCount, 0},
        {kFreeListBlock, 0}, {kFreeCount, 0}, {kOpenForWrite, 0}};
    for (auto [offset, value] : words) EXPECT_EQ(WordAt(bytes, offset), value) << "offset " << offset;
    for (size_t i = 72; i < 512; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST_F(DatabaseManagerTest, OnePathOneHandleWhateverTheCase) {
    const std::string path = dir / "Shared.hdb";
    const std::string other = dir / "SHARED.HDB";
    const int32_t a = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    const int32_t b = manager.OpenDatabase(other.c_str(), ModeReadWrite);
    EXPECT_EQ(a, b);
    EXPECT_EQ(OpenFileCount(), 1);
    EXPECT_EQ(manager.CloseDatabase(a), 0);
    EXPECT_EQ(OpenFileCount(), 1);
    EXPECT_EQ(manager.CloseDatabase(a), 0);
    EXPECT_EQ(OpenFileCount(), 0);
    EXPECT_EQ(manager.CloseDatabase(a), -1);
}

// The file is found whatever the case, so a reader in other case joins the open database, and a
// reader opens a closed one written in other case, as on Windows.
TEST_F(DatabaseManagerTest, ReadOnlyOpenInOtherCase) {
    const std::string path = dir / "Shared.hdb";
    const std::string other = dir / "sHARED.hdb";
    const int32_t writer = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(manager.OpenDatabase(other.c_str(), ModeReadOnly), writer);
    EXPECT_EQ(manager.SetAppValue(writer, 3), 0) << "still writable";
    EXPECT_EQ(OpenFileCount(), 1);
    manager.CloseDatabase(writer);
    manager.CloseDatabase(writer);
    EXPECT_EQ(OpenFileCount(), 0);

    const int32_t reader = manager.OpenDatabase((dir / "SHARED.HDB").c_str(), ModeReadOnly);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(manager.GetAppValue(reader), 3);
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), reader) << "the mode change finds the file too";
    EXPECT_EQ(manager.SetAppValue(reader, 4), 0);
    manager.CloseDatabase(reader);
    manager.CloseDatabase(reader);
    EXPECT_EQ(WordAt(ReadBytes(path), kAppValue), 4u);
    EXPECT_EQ(testing_support::SystemListing(dir / "*"), std::vector<std::string>{"Shared.hdb"}) << "no mirror left";
}

TEST_F(DatabaseManagerTest, ReadOnlyNeedsAFile) {
    const std::string path = dir / "missing.hdb";
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadOnly), -1);
    FileService fs;
    EXPECT_EQ(fs.FileExists(path.c_str()), 0);
}

TEST_F(DatabaseManagerTest, ReadOnlyThenWriterChangesTheMode) {
    const std::string path = NewDatabase("mode.hdb");
    const int32_t reader = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(manager.SetAppValue(reader, 5), -1);
    const auto before = ReadBytes(path);
    EXPECT_EQ(WordAt(before, kOpenForWrite), 0u);  // a reader never writes

    const int32_t writer = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    EXPECT_EQ(writer, reader);
    EXPECT_EQ(WordAt(ReadBytes(path), kOpenForWrite), 1u);
    EXPECT_EQ(manager.SetAppValue(writer, 5), 0);
    manager.CloseDatabase(writer);
    manager.CloseDatabase(reader);
    const auto after = ReadBytes(path);
    EXPECT_EQ(WordAt(after, kOpenForWrite), 0u);
    EXPECT_EQ(WordAt(after, kAppValue), 5u);
}

TEST_F(DatabaseManagerTest, WriterThenReaderStaysWritable) {
    const std::string path = dir / "writer.hdb";
    const int32_t writer = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    const int32_t reader = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    EXPECT_EQ(reader, writer);
    EXPECT_EQ(manager.SetAppValue(reader, 1), 0);
    EXPECT_EQ(manager.GetAppValue(reader), 1);
    manager.CloseDatabase(reader);
    manager.CloseDatabase(writer);
    EXPECT_EQ(WordAt(ReadBytes(path), kAppValue), 1u);
}

TEST_F(DatabaseManagerTest, AccessorsOnEmptySlots) {
    for (int32_t handle : {-1, 0, 7, 511, 512}) {
        EXPECT_EQ(manager.GetAppValue(handle), -1) << handle;
        EXPECT_EQ(manager.SetAppValue(handle, 3), -1) << handle;
        EXPECT_EQ(manager.GetKeyCount(handle), -1) << handle;
        EXPECT_EQ(manager.CloseDatabase(handle), -1) << handle;
    }
    const int32_t h = manager.OpenDatabase((dir / "a.hdb").c_str(), ModeReadWrite);
    EXPECT_EQ(manager.GetKeyCount(h), 0);
    EXPECT_EQ(manager.GetAppValue(h + 1), -1);
    manager.CloseDatabase(h);
}

TEST_F(DatabaseManagerTest, TableHolds512Databases) {
    std::vector<int32_t> handles;
    for (int i = 0; i < kDatabaseTableSize; ++i) {
        const int32_t h = manager.OpenDatabase((dir / ("db" + std::to_string(i))).c_str(), ModeReadWrite);
        ASSERT_EQ(h, i);
        handles.push_back(h);
    }
    EXPECT_EQ(manager.OpenDatabase((dir / "one-more").c_str(), ModeReadWrite), -1);
    manager.CloseDatabase(300);
    EXPECT_EQ(manager.OpenDatabase((dir / "one-more").c_str(), ModeReadWrite), 300);
    for (int32_t h : handles) manager.CloseDatabase(h);
}

TEST_F(DatabaseManagerTest, WhatOpens) {
    const std::string shortFile = dir / "short.hdb";
    WriteBytes(shortFile, std::vector<uint8_t>(255, 0));
    EXPECT_EQ(manager.OpenDatabase(shortFile.c_str(), ModeReadOnly), -1);
    EXPECT_EQ(manager.OpenDatabase(shortFile.c_str(), ModeReadWrite), -1);

    // Any 512 bytes open: the signature is carried, never checked.
    const std::string foreign = dir / "foreign.hdb";
    std::vector<uint8_t> bytes(512, 0);
    std::memcpy(bytes.data(), "not a database at all", 21);
    WriteBytes(foreign, bytes);
    const int32_t h = manager.OpenDatabase(foreign.c_str(), ModeReadOnly);
    EXPECT_GE(h, 0);
    manager.CloseDatabase(h);
    EXPECT_EQ(ReadBytes(foreign), bytes);

    EXPECT_EQ(manager.OpenDatabase(std::string(kDatabasePathBuffer, 'x').c_str(), ModeReadWrite), -1);
}

TEST_F(DatabaseManagerTest, CreateReplacesAnExistingDatabase) {
    const std::string path = NewDatabase("replace.hdb");
    int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    manager.SetAppValue(h, 9);
    manager.CloseDatabase(h);
    std::vector<uint8_t> grown = ReadBytes(path);
    grown.resize(2048, 0xAB);
    WriteBytes(path, grown);

    h = manager.OpenDatabase(path.c_str(), ModeCreate);
    EXPECT_EQ(manager.GetAppValue(h), 0);
    manager.CloseDatabase(h);
    const auto bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size(), 512u);
    EXPECT_EQ(WordAt(bytes, kBlockCount), 1u);
}

TEST_F(DatabaseManagerTest, WriterClearsTheReadOnlyAttribute) {
    const std::string path = NewDatabase("locked.hdb");
    ASSERT_TRUE(platform::SetFileReadOnly(path.c_str()));
    const int32_t reader = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    EXPECT_GE(reader, 0);
    manager.CloseDatabase(reader);
    const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(h, 0);
    EXPECT_EQ(manager.SetAppValue(h, 2), 0);
    manager.CloseDatabase(h);
    EXPECT_EQ(WordAt(ReadBytes(path), kAppValue), 2u);
}

TEST_F(DatabaseManagerTest, FileHeldByAnotherWriterDoesNotOpen) {
    const std::string path = NewDatabase("held.hdb");
    FileService fs;
    const int32_t f = fs.FileOpen(path.c_str(), OpenReadWrite);
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1);
    fs.FileClose(f);
}

TEST_F(DatabaseManagerTest, FailedCreationLeavesNoFile) {
    FileService fs;
    struct Case {
        CallKind kind;
        uint32_t nth;
        platform::Fault fault;
        const char* what;
    } cases[] = {
        {CallKind::Open, 1, {}, "open"},
        {CallKind::Write, 1, {.shortCount = 100}, "short header write"},
        {CallKind::Write, 2, {}, "first block write, uncached"},
        {CallKind::Allocate, 1, {}, "table allocation"},
        {CallKind::Allocate, 2, {}, "record allocation"},
    };
    for (const Case& c : cases) {
        const std::string path = dir / (std::string("fail-") + c.what);
        // With a cache, block 0 reaches the file only at close; uncached, the open writes it.
        const hdb_test::CacheLimitScope uncached(c.kind == CallKind::Write && c.nth == 2 ? 0 : BlockCacheLimit());
        platform::InjectFault(c.kind, c.nth, c.fault);
        EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1) << c.what;
        platform::ClearFaults();
        EXPECT_EQ(fs.FileExists(path.c_str()), 0) << c.what;
        EXPECT_EQ(OpenDatabaseCount(), 0) << c.what;
        EXPECT_EQ(OpenFileCount(), 0) << c.what;
    }
}

TEST_F(DatabaseManagerTest, FailedOpenOfAnExistingFile) {
    const std::string path = NewDatabase("existing.hdb");
    const auto original = ReadBytes(path);
    platform::InjectFault(CallKind::Read, 1, {.shortCount = 200});
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadOnly), -1);
    platform::InjectFault(CallKind::Read, 2);  // the free-list head block
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadOnly), -1);
    // The first open reads the header, to see whether a writer left the file open; then the open
    // itself fails, also after clearing read-only.
    platform::InjectFault(CallKind::Open, 2, {}, 2);
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1);
    platform::ClearFaults();
    EXPECT_EQ(OpenDatabaseCount(), 0);
    EXPECT_EQ(ReadBytes(path), original);
}

// An existence check that fails must not send the open down the creation path, and a creation
// that finds the file there after all must not empty it.
TEST_F(DatabaseManagerTest, FailedExistenceCheckNeverEmptiesTheFile) {
    const std::string path = NewDatabase("kept.hdb");
    const auto original = ReadBytes(path);
    struct Case {
        int32_t mode;
        platform::Fault fault;
        const char* what;
    } cases[] = {
        {ModeReadWrite, {}, "search failed"},
        {ModeReadWrite, {.error = platform::kErrorAccessDenied}, "search refused"},
        {ModeReadWrite, {.error = platform::kErrorFileNotFound}, "search wrongly says missing"},
        {ModeReadOnly, {}, "read-only, search failed"},
    };
    for (const Case& c : cases) {
        platform::InjectFault(CallKind::Find, 1, c.fault);
        EXPECT_EQ(manager.OpenDatabase(path.c_str(), c.mode), -1) << c.what;
        platform::ClearFaults();
        EXPECT_EQ(ReadBytes(path), original) << c.what;
        EXPECT_EQ(OpenDatabaseCount(), 0) << c.what;
    }
}

// A writer marks the file as open before it changes anything; when the mark cannot be written,
// nothing is changed unmarked: the open fails, or a reader's record that became writable
// refuses every change and its close reports the failure.
TEST_F(DatabaseManagerTest, NoChangeWithoutTheOpenMarkInTheFile) {
    const std::string path = NewDatabase("marked.hdb");
    const auto original = ReadBytes(path);
    platform::InjectFault(CallKind::Write, 1);
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1);
    platform::ClearFaults();
    EXPECT_EQ(OpenDatabaseCount(), 0);
    EXPECT_EQ(ReadBytes(path), original);

    const int32_t reader = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(reader, 0);
    platform::InjectFault(CallKind::Write, 1);
    const int32_t writer = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    platform::ClearFaults();
    ASSERT_EQ(writer, reader);
    EXPECT_EQ(manager.HdbCreateKey(writer, 1, "root"), -1);
    EXPECT_EQ(manager.CloseDatabase(writer), 0) << "the record is still open once";
    EXPECT_EQ(manager.CloseDatabase(reader), -1);
    EXPECT_EQ(ReadBytes(path), original);
}

// A lookup that lacked memory may answer "no such key" for a key that is there; callers create
// what they do not find, so the database takes no more changes, and its file stays whole.
TEST_F(DatabaseManagerTest, ALookupWithoutMemoryStopsFurtherChanges) {
    const std::string path = dir / "lookup.hdb";
    int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    const int64_t root = manager.HdbCreateKey(h, 1, "root");
    ASSERT_EQ(root, 1);
    const int64_t child = manager.HdbCreateKey(h, 1, "child");
    ASSERT_GE(child, 0);
    manager.HdbCloseKey(h, static_cast<uint32_t>(child));
    manager.HdbCloseKey(h, 1);
    ASSERT_EQ(manager.CloseDatabase(h), 0);

    h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    platform::InjectFault(CallKind::Allocate, 1, {}, 1000);
    const int64_t found = manager.HdbFindKey(h, 1, "child");
    platform::ClearFaults();
    ASSERT_EQ(found, -1) << "the lookup had no memory at all";
    EXPECT_EQ(manager.HdbCreateKey(h, 1, "child"), -1);
    EXPECT_EQ(manager.HdbFindKey(h, 1, "child"), child) << "lookups go on";
    manager.HdbCloseKey(h, static_cast<uint32_t>(child));
    manager.HdbCloseKey(h, 1);
    EXPECT_EQ(manager.CloseDatabase(h), 0);
    const auto bytes = ReadBytes(path);
    EXPECT_EQ(WordAt(bytes, kOpenForWrite), 0u);
    EXPECT_EQ(WordAt(bytes, kKeyCount), 2u);
}

TEST_F(DatabaseManagerTest, FailedModeChange) {
    const std::string path = NewDatabase("change.hdb");
    const int32_t reader = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(reader, 0);
    // The writable reopen fails: the record is reopened read-only and stays usable.
    platform::InjectFault(CallKind::Open, 1);
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1);
    platform::ClearFaults();
    EXPECT_EQ(manager.SetAppValue(reader, 1), -1);
    EXPECT_EQ(manager.GetKeyCount(reader), 0);
    const int32_t again = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    EXPECT_EQ(again, reader);
    manager.CloseDatabase(again);
    manager.CloseDatabase(reader);

    // No reopen at all: the record loses one open and, being the last, goes.
    const int32_t only = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    platform::InjectFault(CallKind::Open, 1, {}, 2);
    EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1);
    platform::ClearFaults();
    EXPECT_EQ(manager.GetAppValue(only), -1);
    EXPECT_EQ(OpenDatabaseCount(), 0);
}

TEST_F(DatabaseManagerTest, CreateOnAReadOnlyOpenKeepsTheContent) {
    const std::string path = NewDatabase("keep.hdb");
    int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    manager.SetAppValue(h, 7);
    manager.CloseDatabase(h);
    const int32_t reader = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    const int32_t writer = manager.OpenDatabase(path.c_str(), ModeCreate);
    EXPECT_EQ(writer, reader);
    EXPECT_EQ(manager.GetAppValue(writer), 7);
    manager.CloseDatabase(writer);
    manager.CloseDatabase(reader);
    const auto bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size(), 512u);
    EXPECT_EQ(WordAt(bytes, kAppValue), 7u);
    EXPECT_EQ(WordAt(bytes, kBlockCount), 1u);
}

// A close whose writes fail says so, and leaves the file marked as open by a writer: the header
// the open wrote stays, so nothing claims the blocks that never arrived.
TEST_F(DatabaseManagerTest, CloseReportsWriteFailures) {
    const std::string path = dir / "close.hdb";
    const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    manager.SetAppValue(h, 5);
    platform::InjectFault(CallKind::Write, 1, {}, 10);
    EXPECT_EQ(manager.CloseDatabase(h), -1);
    platform::ClearFaults();
    EXPECT_EQ(manager.GetAppValue(h), -1);
    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_EQ(WordAt(bytes, kOpenForWrite), 1u);
    EXPECT_EQ(WordAt(bytes, kAppValue), 0u);

    // The header's own write failing (the one after block 0's) is reported the same way.
    const std::string other = NewDatabase("header.hdb");
    const int32_t again = manager.OpenDatabase(other.c_str(), ModeReadWrite);
    manager.SetAppValue(again, 5);
    platform::InjectFault(CallKind::Write, 2);
    EXPECT_EQ(manager.CloseDatabase(again), -1);
    platform::ClearFaults();
    EXPECT_EQ(WordAt(ReadBytes(other), kOpenForWrite), 1u);
}

std::vector<std::string> g_reports;
int32_t Record(const char* caption, const char* text) {
    g_reports.push_back(std::string(caption) + "|" + text);
    return 0;
}

TEST_F(DatabaseManagerTest, NoReportWhenNoKeyIsLeftOpen) {
    SetReportMessageHook(Record);
    g_reports.clear();
    NewDatabase("quiet.hdb");
    SetReportMessageHook(nullptr);
    EXPECT_TRUE(g_reports.empty());
}

}  // namespace

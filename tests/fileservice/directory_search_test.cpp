#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fileservice/file_service.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "support/date_time_converter.h"
#include "test_support.h"
#include "time_settings_scope.h"

using namespace fileservice;

namespace {

using testing_support::ScratchDir;
using testing_support::TimeSettingsScope;
using testing_support::WriteText;
namespace fs = std::filesystem;

class DirectorySearch : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SearchSlotCount(), 0); }
    void TearDown() override {
        platform::ClearFaults();
        EXPECT_EQ(SearchSlotCount(), 0) << "a search slot was left in use";
    }

    std::vector<std::string> ListAll(const std::string& pattern) {
        std::vector<std::string> names;
        const int32_t slot = files.SearchOpen(pattern.c_str());
        if (slot < 0) return names;
        do names.push_back(files.SearchName(slot));
        while (files.SearchNext(slot) == 0);
        files.SearchClose(slot);
        return names;
    }

    FileService files;
    ScratchDir dir;
};

TEST_F(DirectorySearch, OnlyDotEntriesOrNoMatchHoldNoSlot) {
    EXPECT_EQ(files.SearchOpen((dir / "*.*").c_str()), -1);
    EXPECT_EQ(files.SearchOpen((dir / "*").c_str()), -1);
    EXPECT_EQ(files.SearchOpen((dir / "missing.txt").c_str()), -1);
    EXPECT_EQ(files.SearchOpen((dir / "no-such-folder" + std::string(1, platform::kPathSeparator) + "*.*").c_str()), -1);
    EXPECT_EQ(SearchSlotCount(), 0);
}

TEST_F(DirectorySearch, SlotLivesFromOpenThroughExhaustionToCloseAndIsReused) {
    WriteText(dir / "only.txt", "hello");
    const int32_t slot = files.SearchOpen((dir / "*.*").c_str());
    ASSERT_GE(slot, 0);
    EXPECT_STREQ(files.SearchName(slot), "only.txt");
    EXPECT_EQ(files.SearchNext(slot), -1);
    // Exhausted but still held, and still standing on its last entry.
    EXPECT_EQ(SearchSlotCount(), 1);
    EXPECT_EQ(files.SearchNext(slot), -1);
    files.SearchClose(slot);
    EXPECT_EQ(SearchSlotCount(), 0);

    const int32_t again = files.SearchOpen((dir / "only.txt").c_str());
    EXPECT_EQ(again, slot);
    files.SearchClose(again);
}

TEST_F(DirectorySearch, ListsEverythingButDotEntriesInTheSystemsOrder) {
    for (const char* name : {"b.txt", "a", "0000002a", "C.DAT", ".hidden"}) WriteText(dir / name, name);
    fs::create_directory(dir / "sub");
    const std::string pattern = dir / "*.*";

    const std::vector<std::string> listed = ListAll(pattern);
    EXPECT_EQ(listed, testing_support::SystemListing(pattern));
    std::vector<std::string> sorted = listed;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{".hidden", "0000002a", "C.DAT", "a", "b.txt", "sub"}));
}

TEST_F(DirectorySearch, AccessorsDescribeTheCurrentEntry) {
    WriteText(dir / "five.bin", "12345");
    fs::create_directory(dir / "folder");

    const int32_t file = files.SearchOpen((dir / "five.bin").c_str());
    ASSERT_GE(file, 0);
    EXPECT_STREQ(files.SearchName(file), "five.bin");
    EXPECT_STREQ(files.SearchShortName(file), "");
    EXPECT_EQ(files.SearchIsFolder(file), 0);
    EXPECT_EQ(files.SearchAttributes(file) & platform::kAttributeDirectory, 0u);
    uint32_t high = 99;
    EXPECT_EQ(files.SearchSize(file, &high), 5u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(files.SearchSize(file, nullptr), 5u);

    platform::FindData system;
    platform::FindHandle h = platform::FindFirst((dir / "five.bin").c_str(), &system);
    ASSERT_NE(h, 0);
    platform::FindClose(h);
    uint64_t creation = 0, access = 0, write = 0;
    EXPECT_EQ(files.SearchTimes(file, &creation, &access, &write), system.attributes);
    EXPECT_EQ(creation, system.creationTime);
    EXPECT_EQ(access, system.lastAccessTime);
    EXPECT_EQ(write, system.lastWriteTime);
    files.SearchClose(file);

    const int32_t folder = files.SearchOpen((dir / "folder").c_str());
    ASSERT_GE(folder, 0);
    EXPECT_EQ(files.SearchIsFolder(folder), 1);
    EXPECT_NE(files.SearchAttributes(folder) & platform::kAttributeDirectory, 0u);
    files.SearchClose(folder);
}

// Question marks stand for the short name only when there is one; without it the name is
// reported as the system gave it.
TEST_F(DirectorySearch, NameOfQuestionMarksWithoutShortNameIsKept) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows file names cannot hold question marks";
#else
    WriteText(dir / "??odd", "x");
    const int32_t slot = files.SearchOpen((dir / "*.*").c_str());
    ASSERT_GE(slot, 0);
    EXPECT_STREQ(files.SearchShortName(slot), "");
    EXPECT_STREQ(files.SearchName(slot), "??odd");
    files.SearchClose(slot);
#endif
}

TEST_F(DirectorySearch, WriteTimeIsPackedLocalTime) {
    TimeSettingsScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    SKIP_UNLESS_APPLIED(zone);
    WriteText(dir / "stamped.txt", "x");
    // 2001-02-03 04:05:06 UTC is 05:05:06 in Central Europe in winter.
    const auto stamp = std::chrono::sys_seconds{std::chrono::seconds{981173106}};
    fs::last_write_time(dir / "stamped.txt", std::chrono::file_clock::from_sys(stamp));
    const uint32_t expected = support::PackTime({2001, 2, 3, 5, 5, 6});

    const int32_t slot = files.SearchOpen((dir / "stamped.txt").c_str());
    ASSERT_GE(slot, 0);
    EXPECT_EQ(files.SearchWriteTime(slot), expected);
    files.SearchClose(slot);
    EXPECT_EQ(files.FileWriteTime((dir / "stamped.txt").c_str()), expected);
    EXPECT_EQ(files.FileWriteTime((dir / "*.txt").c_str()), expected);
}

TEST_F(DirectorySearch, FullTableRefusesOneMoreAndFreesOnClose) {
    WriteText(dir / "one.txt", "x");
    const std::string name = dir / "one.txt";
    std::vector<int32_t> slots;
    for (int32_t i = 0; i < kSearchTableSize; ++i) {
        const int32_t slot = files.SearchOpen(name.c_str());
        ASSERT_EQ(slot, i);
        slots.push_back(slot);
    }
    EXPECT_EQ(files.SearchOpen(name.c_str()), -1);
    EXPECT_EQ(platform::LastError(), platform::kErrorTooManyOpenFiles) << "the refusal says why";
    files.SearchClose(1000);
    EXPECT_EQ(files.SearchOpen(name.c_str()), 1000);
    for (int32_t slot : slots) files.SearchClose(slot);
}

TEST_F(DirectorySearch, FailingSystemCallsLeaveTheTableConsistent) {
    WriteText(dir / "a.txt", "x");
    WriteText(dir / "b.txt", "x");
    platform::InjectFault(platform::CallKind::Find, 1);
    EXPECT_EQ(files.SearchOpen((dir / "*.txt").c_str()), -1);
    EXPECT_EQ(SearchSlotCount(), 0);

    const int32_t slot = files.SearchOpen((dir / "*.txt").c_str());
    ASSERT_GE(slot, 0);
    platform::InjectFault(platform::CallKind::Find, 1, platform::Fault{platform::kErrorAccessDenied});
    EXPECT_EQ(files.SearchNext(slot), kSearchFailed) << "a failed listing is not its end";
    EXPECT_EQ(platform::LastError(), platform::kErrorAccessDenied);
    EXPECT_EQ(SearchSlotCount(), 1);  // neither a failure nor the end closes the slot
    files.SearchClose(slot);

    // The system's own "no more files" is the end, even when a fault says so.
    const int32_t again = files.SearchOpen((dir / "*.txt").c_str());
    ASSERT_GE(again, 0);
    platform::InjectFault(platform::CallKind::Find, 1, platform::Fault{platform::kErrorNoMoreFiles});
    EXPECT_EQ(files.SearchNext(again), -1);
    files.SearchClose(again);
}

TEST_F(DirectorySearch, ThreadsSearchingAtOnceNeverShareASlot) {
    WriteText(dir / "one.txt", "x");
    const std::string name = dir / "one.txt";
    std::atomic<int32_t> owners[kSearchTableSize] = {};
    std::atomic<int> clashes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            FileService own;
            for (int i = 0; i < 300; ++i) {
                const int32_t slot = own.SearchOpen(name.c_str());
                if (slot < 0) continue;
                if (owners[slot].exchange(1) != 0) ++clashes;
                owners[slot].store(0);
                own.SearchClose(slot);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(clashes.load(), 0);
}

class FileQueries : public DirectorySearch {};

TEST_F(FileQueries, MissingFilesGiveZeroEverywhere) {
    const std::string missing = dir / "missing.bin";
    uint32_t high = 0xDEADBEEF;
    uint64_t size = 0xDEADBEEFDEADBEEFull;
    EXPECT_EQ(files.FileWriteTime(missing.c_str()), 0u);
    EXPECT_EQ(files.FileSize(missing.c_str(), &high), 0u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(files.FileSize64(missing.c_str(), &size), 0);
    EXPECT_EQ(size, 0u);
}

TEST_F(FileQueries, SizesOfSmallAndLargeFiles) {
    WriteText(dir / "five.bin", "12345");
    uint32_t high = 77;
    uint64_t size = 0;
    EXPECT_EQ(files.FileSize((dir / "five.bin").c_str(), &high), 5u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(files.FileSize64((dir / "five.bin").c_str(), &size), 0);
    EXPECT_EQ(size, 5u);  // words 5 and 0

    // Past 4 GiB the high half counts (a sparse file costs no disk).
    const uint64_t large = (uint64_t{1} << 32) + 7;
    WriteText(dir / "large.bin", "");
    fs::resize_file(dir / "large.bin", large);
    EXPECT_EQ(files.FileSize((dir / "large.bin").c_str(), &high), 7u);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(files.FileSize64((dir / "large.bin").c_str(), &size), 0);
    EXPECT_EQ(size, large);
    EXPECT_EQ(files.FileSize((dir / "large.bin").c_str(), nullptr), 7u);
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "run_test_support.h"
#include "test_support.h"

using namespace app;

namespace {

using testing_support::ReadBytes;
using testing_support::RecordingHost;
using testing_support::ScratchDir;
using testing_support::WordAt;
using testing_support::WriteBytes;
using testing_support::WriteText;

class RebuildRunTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SetRepositoryPath(dir.path().string())); }

    std::string Database() const { return dir / "UserConfig.hdb"; }
    std::string OldName(const std::string& suffix) const { return Database() + suffix; }
    bool Exists(const std::string& path) { return files.FileExists(path.c_str()) == 1; }

    void Run() {
        RebuildWorker();
        EXPECT_EQ(platform::AtomicLoad(&SharedRun().runState), RunIdle);
    }

    void ExpectCompleted() {
        EXPECT_EQ(host.messages, std::vector<std::string>{"Server UserConfig Data Restored: Database Restoration Complete"});
        EXPECT_EQ(host.stateDuringMessage, RunRunning);
        const auto bytes = ReadBytes(Database());
        ASSERT_GE(bytes.size(), 512u);
        EXPECT_EQ(WordAt(bytes, 68), 0u);  // closed cleanly
    }

    ScratchDir dir;
    fileservice::FileService files;
    hdb::DatabaseManager databases;
    RecordingHost host;
    testing_support::SharedRunScope scope{host, files, databases};
};

TEST_F(RebuildRunTest, NoOldDatabaseNothingSetAside) {
    Run();
    ExpectCompleted();
    EXPECT_TRUE(host.lines.empty());
    EXPECT_FALSE(Exists(dir / "*.old*"));
    EXPECT_EQ(WordAt(ReadBytes(Database()), 40), 1u) << "the new database holds the template";
}

// Which names exist before the run, and where the old database must end up.
struct SetAsideCase {
    std::vector<std::string> taken;
    std::string expected;
};

class SetAsideTest : public RebuildRunTest, public ::testing::WithParamInterface<SetAsideCase> {};

TEST_P(SetAsideTest, OldDatabaseMovesToTheFirstFreeName) {
    WriteText(Database(), "the old database");
    for (const std::string& suffix : GetParam().taken) WriteText(OldName(suffix), "older " + suffix);
    Run();
    ExpectCompleted();
    const auto moved = ReadBytes(OldName(GetParam().expected));
    EXPECT_EQ(std::string(moved.begin(), moved.end()), "the old database");
    EXPECT_EQ(SharedRun().report.setAsideName, OldName(GetParam().expected));
    for (const std::string& suffix : GetParam().taken) {
        const auto kept = ReadBytes(OldName(suffix));
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "older " + suffix);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SetAsideTest,
    ::testing::Values(SetAsideCase{{}, ".old"}, SetAsideCase{{".old"}, ".old0"},
                      SetAsideCase{{".old", ".old0", ".old1", ".old2", ".old3", ".old4"}, ".old5"},
                      // the lowest free number, not one above the highest in use
                      SetAsideCase{{".old", ".old0", ".old7"}, ".old1"}));

TEST_F(RebuildRunTest, AllSetAsideNamesTakenLeavesTheDatabaseAlone) {
    WriteText(Database(), "precious");
    WriteText(OldName(".old"), "x");
    for (int i = 0; i <= 999; ++i) WriteText(OldName(".old" + std::to_string(i)), "x");
    std::string name;
    EXPECT_TRUE(SetAsideName(files, Database(), name));
    EXPECT_EQ(name, OldName(".old999"));
    Run();
    EXPECT_EQ(host.lines, std::vector<std::string>{kSetAsideFailedLine});
    EXPECT_TRUE(host.messages.empty());
    const auto kept = ReadBytes(Database());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious");
}

TEST_F(RebuildRunTest, DatabaseInUseLeftAlone) {
    WriteText(Database(), "in use");
    const int32_t f = files.FileOpen(Database().c_str(), fileservice::OpenReadWrite);
    ASSERT_GE(f, 0);
    Run();
    files.FileClose(f);
    EXPECT_EQ(host.lines, std::vector<std::string>{kSetAsideFailedLine});
    const RunReport& report = SharedRun().report;
    EXPECT_EQ(report.end, RunEnd::SetAsideFailed);
    EXPECT_EQ(report.failedName, Database());
    EXPECT_EQ(report.setAsideTarget, OldName(".old"));
    EXPECT_EQ(report.failedError, platform::kErrorSharingViolation) << "the report says the file is in use";
    const auto kept = ReadBytes(Database());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "in use");
    EXPECT_FALSE(Exists(OldName(".old")));
}

// Every search of the run failing in turn, with an old database in place and one set-aside name
// taken: the old database is never changed, wherever it ends up, and a run that completes has
// written a new database beside it (an empty one when the template could not be written; the
// console tells that loss from a complete run).
TEST_F(RebuildRunTest, FailedSearchesNeverCostTheOldDatabase) {
    const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'd', 'b'};
    platform::ResetCallCounts();
    WriteBytes(Database(), old);
    WriteText(OldName(".old"), "older");
    Run();
    const uint64_t searches = platform::CallCount(platform::CallKind::Find);
    const auto expected = ReadBytes(Database());
    ASSERT_GE(searches, 4u);
    for (uint64_t nth = 1; nth <= searches; ++nth) {
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        WriteBytes(Database(), old);
        WriteText(OldName(".old"), "older");
        host.lines.clear();
        host.messages.clear();
        platform::InjectFault(platform::CallKind::Find, static_cast<uint32_t>(nth));
        Run();
        platform::ClearFaults();
        const bool inPlace = ReadBytes(Database()) == old;
        EXPECT_TRUE(inPlace || ReadBytes(OldName(".old0")) == old) << "search " << nth;
        if (inPlace) {
            EXPECT_EQ(host.lines, std::vector<std::string>{kSetAsideFailedLine}) << "search " << nth;
            EXPECT_TRUE(host.messages.empty()) << "search " << nth;
        }
        if (!host.messages.empty()) {
            const auto fresh = ReadBytes(Database());
            ASSERT_GE(fresh.size(), 512u) << "search " << nth;
            EXPECT_EQ(WordAt(fresh, 68), 0u) << "search " << nth << ": closed cleanly";
            if (WordAt(fresh, 56) != 0) {
                EXPECT_EQ(fresh, expected) << "search " << nth;
            }
        }
        const auto older = ReadBytes(OldName(".old"));
        EXPECT_EQ(std::string(older.begin(), older.end()), "older") << "search " << nth;
    }
}

#ifndef _WIN32
// An old database in other case is found by reading the folder; every such read failing in turn
// must leave it as it was: set aside whole, or left in place with the set-aside failure line.
TEST_F(RebuildRunTest, FailedFolderReadsNeverCostTheOldDatabase) {
    const std::string oldDatabase = dir / "userconfig.hdb";
    const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'd', 'b'};
    WriteBytes(oldDatabase, old);
    platform::ResetCallCounts();
    Run();
    ExpectCompleted();
    EXPECT_EQ(ReadBytes(OldName(".old")), old);
    const uint64_t reads = platform::CallCount(platform::CallKind::FolderRead);
    ASSERT_GE(reads, 2u);
    for (uint64_t nth = 1; nth <= reads; ++nth) {
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        WriteBytes(oldDatabase, old);
        host.lines.clear();
        host.messages.clear();
        platform::InjectFault(platform::CallKind::FolderRead, static_cast<uint32_t>(nth));
        Run();
        platform::ClearFaults();
        if (ReadBytes(oldDatabase) == old) {
            EXPECT_EQ(host.lines, std::vector<std::string>{kSetAsideFailedLine}) << "read " << nth;
        } else {
            EXPECT_EQ(ReadBytes(OldName(".old")), old) << "read " << nth;
        }
    }
}
#endif

TEST_F(RebuildRunTest, RepositoryUnderAMissingFolder) {
    ASSERT_TRUE(SetRepositoryPath(dir / "no/such/repository"));
    Run();
    EXPECT_EQ(host.lines, std::vector<std::string>{"Error creating database file, repair failed."});
    EXPECT_TRUE(host.messages.empty());
    const RunReport& report = SharedRun().report;
    EXPECT_EQ(report.end, RunEnd::CreateFailed);
    EXPECT_EQ(report.failedName, SharedRun().databasePath);
    EXPECT_EQ(report.failedError, platform::kErrorPathNotFound);
    EXPECT_EQ(report.usersWalk, UsersWalk::NotStarted);
}

TEST_F(RebuildRunTest, StartRunsTheWorkerOnItsOwnThread) {
    ASSERT_TRUE(StartRebuild());
    for (int i = 0; i < 1000 && platform::AtomicLoad(&SharedRun().runState) != RunIdle; ++i) platform::Sleep(10);
    EXPECT_EQ(platform::AtomicLoad(&SharedRun().runState), RunIdle);
    EXPECT_EQ(SharedRun().cancelFlag, 0);
    ExpectCompleted();
}

TEST(RepositoryPath, DatabasePathLimit) {
    const std::string name(kMaxPathChars - 1 - std::string(kDatabaseFileName).size(), 'r');
    ASSERT_TRUE(SetRepositoryPath(name));
    EXPECT_EQ(SharedRun().databasePath.size(), kMaxPathChars);
    EXPECT_EQ(SharedRun().databasePath, name + platform::kPathSeparator + "UserConfig.hdb");
    EXPECT_FALSE(SetRepositoryPath(name + "r"));
    EXPECT_EQ(SharedRun().repositoryPath, name);  // unchanged by the refusal
}

TEST(AddStatusLine, ReturnsTheCancelFlag) {
    RecordingHost host;
    SharedRun().host = &host;
    platform::AtomicStore(&SharedRun().cancelFlag, 1);
    EXPECT_EQ(AddStatusLine("one"), 1);
    platform::AtomicStore(&SharedRun().cancelFlag, 0);
    EXPECT_EQ(AddStatusLine("two"), 0);
    SharedRun().host = nullptr;
    EXPECT_EQ(host.lines, (std::vector<std::string>{"one", "two"}));
}

}  // namespace

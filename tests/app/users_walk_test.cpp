#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

using testing_support::RecordingHost;
using testing_support::ScratchDir;
using testing_support::WriteText;
namespace fs = std::filesystem;

// Drives the worker on the test thread against a scratch repository.
class UsersWalk : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SetRepositoryPath(repository.path().string())); }

    std::string Users() const { return repository / "users"; }
    void MakeUserFolder(const std::string& name) { fs::create_directories(fs::path(Users()) / name); }

    void Run() {
        RebuildWorker();
        EXPECT_EQ(platform::AtomicLoad(&SharedRun().runState), RunIdle);
        EXPECT_EQ(fileservice::SearchSlotCount(), 0) << "the walk must give its search slot back";
    }

    // The status lines the walk must produce: one per entry, in the order the system lists
    // the users folder; none of these entries has a summary, so each also reports that.
    std::vector<std::string> ExpectedLines() const {
        std::vector<std::string> lines;
        for (const std::string& name : testing_support::SystemListing(Users() + platform::kPathSeparator + "*.*")) {
            lines.push_back("Processing user ID \"" + name + "\"...");
            const std::string summary =
                Users() + platform::kPathSeparator + name + platform::kPathSeparator + "UserSummary.rtf";
            lines.push_back("ERROR - Cannot open summary file \"" + summary + "\" repair is incomplete.");
        }
        return lines;
    }

    std::string Completion() const { return std::string(kCompletionCaption) + ": " + kCompletionText; }

    RecordingHost host;
    fileservice::FileService files;
    hdb::DatabaseManager databases;
    ScratchDir repository;
    testing_support::SharedRunScope scope{host, files, databases};
};

TEST_F(UsersWalk, EachUserFolderGetsItsLineInDirectoryOrderThenTheRunCompletes) {
    for (const char* name : {"00000003", "0000000a", "00000002"}) MakeUserFolder(name);
    const std::vector<std::string> expected = ExpectedLines();
    ASSERT_EQ(expected.size(), 6u);

    Run();
    EXPECT_EQ(host.lines, expected);
    EXPECT_EQ(host.messages, std::vector<std::string>{Completion()});
}

TEST_F(UsersWalk, EmptyOrMissingUsersFolderImportsNobody) {
    Run();  // no users folder at all
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(host.messages, std::vector<std::string>{Completion()});
    EXPECT_EQ(SharedRun().report.usersWalk, app::UsersWalk::NotListed);
    EXPECT_EQ(SharedRun().report.usersError, platform::kErrorPathNotFound) << "the report tells missing from empty";

    fs::create_directory(Users());
    host.messages.clear();
    Run();
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(host.messages, std::vector<std::string>{Completion()});
    EXPECT_EQ(SharedRun().report.usersWalk, app::UsersWalk::NotListed);
    EXPECT_EQ(SharedRun().report.usersError, platform::kErrorNoMoreFiles);
    EXPECT_EQ(SharedRun().report.end, RunEnd::Completed);
}

// A listing that fails part-way is not taken for its end: the run says so in a status line of
// its own and still completes with the users it reached.
TEST_F(UsersWalk, ListingCutShortIsReported) {
    for (const char* name : {"00000002", "00000003", "00000004"}) MakeUserFolder(name);
    platform::ResetCallCounts();
    Run();
    const uint64_t searches = platform::CallCount(platform::CallKind::Find);
    EXPECT_EQ(SharedRun().report.usersWalk, app::UsersWalk::Listed);
    ASSERT_EQ(SharedRun().report.entries.size(), 3u);

    // The search call that brings the last entry is found from the end (failing the one after
    // it cuts the listing short too, with every entry read): the calls after the
    // listing (the database's own checks) come and go with the file service, the walk's do not.
    bool cutShort = false;
    for (uint64_t nth = searches; nth >= 1 && !cutShort; --nth) {
        host.lines.clear();
        host.messages.clear();
        fs::remove(repository / "UserConfig.hdb");
        platform::InjectFault(platform::CallKind::Find, static_cast<uint32_t>(nth),
                              platform::Fault{platform::kErrorAccessDenied});
        Run();
        platform::ClearFaults();
        cutShort = SharedRun().report.usersWalk == app::UsersWalk::CutShort && SharedRun().report.entries.size() < 3;
    }
    ASSERT_TRUE(cutShort) << "no failing search call before the last entry was reported as a listing cut short";
    const RunReport& report = SharedRun().report;
    EXPECT_EQ(report.usersWalk, app::UsersWalk::CutShort);
    EXPECT_EQ(report.usersError, platform::kErrorAccessDenied);
    EXPECT_LT(report.entries.size(), 3u);
    ASSERT_FALSE(host.lines.empty());
    EXPECT_EQ(host.lines.back(), UsersFolderCutShortLine(Users()));
    EXPECT_EQ(host.lines.back(), "ERROR - Cannot read the users folder \"" + Users() + "\" repair is incomplete.");
    EXPECT_EQ(host.messages, std::vector<std::string>{Completion()});
}

// Files are entries like any folder, and names and paths beyond the old fixed sizes (99 and
// 259 characters) reach the import whole.
TEST_F(UsersWalk, FilesAndLongNamesAreTakenWhole) {
    MakeUserFolder("0000002a");
    fs::create_directories(Users());
    WriteText(Users() + platform::kPathSeparator + "notes.txt", "not a user");
    const std::string longName(240, 'b');
    MakeUserFolder(longName);
    ASSERT_GT(Users().size() + longName.size() + std::strlen("/UserSummary.rtf"), kMaxPathChars);

    const std::vector<std::string> expected = ExpectedLines();
    ASSERT_EQ(expected.size(), 6u);
    Run();
    EXPECT_EQ(host.lines, expected);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), "Processing user ID \"" + longName + "\"..."),
              host.lines.end());
}

TEST_F(UsersWalk, NothingIsWalkedWhenTheDatabaseCannotBeCreated) {
    MakeUserFolder("00000002");
    platform::InjectFault(platform::CallKind::Open, 1, platform::Fault{}, 1000);
    Run();
    platform::ClearFaults();
    EXPECT_EQ(host.lines, std::vector<std::string>{kOpenFailedLine});
    EXPECT_TRUE(host.messages.empty());
}

}  // namespace

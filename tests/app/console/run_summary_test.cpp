// Judging a run by what the new database really holds.
#include "app/console/run_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console/exit_codes.h"
#include "app/local_addresses.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/user_config_tree.h"
#include "app/user_import.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "test_support.h"

namespace {

using testing_support::ScratchDir;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

class JudgeRunTest : public testing::Test {
protected:
    JudgeRunTest() {
        run.repositoryPath = dir.path().string();
        run.databasePath = dir / "UserConfig.hdb";
        run.report.end = RunEnd::Completed;
        run.report.usersWalk = UsersWalk::Listed;
        contents.readable = contents.closedCleanly = contents.hasConfiguration = true;
    }
    void Entry(const std::string& name, ImportResult result = ImportResult::AccountAdded, bool inDatabase = true) {
        run.report.entries.push_back({name, result});
        if (inDatabase) contents.accounts.insert(name);
    }
    RunVerdict Judge() { return JudgeRun(run, contents, files); }

    ScratchDir dir;
    FileService files;
    RebuildRun run;
    NewDatabaseContents contents;
};

// An account the import meant to write but that the database lacks is a loss, whatever the
// import believed.
TEST_F(JudgeRunTest, CountsOnlyWhatTheDatabaseHolds) {
    Entry("00000002");
    Entry("00000003", ImportResult::AccountAdded, false);
    const RunVerdict verdict = Judge();
    EXPECT_EQ(verdict.exitCode, kExitIncomplete);
    EXPECT_EQ(verdict.usersImported, 1);
    EXPECT_EQ(verdict.entriesWithoutAccount, 1);
    EXPECT_NE(Joined(verdict.lines).find(
                  "pellucor: no account for \"00000003\": its account was written but is not in the new database\n"),
              std::string::npos)
        << Joined(verdict.lines);
}

TEST_F(JudgeRunTest, ADatabaseThatIsNotWholeIsAFailure) {
    Entry("00000002");
    struct Case {
        const char* what;
        bool readable, closedCleanly, hasConfiguration;
        const char* line;
    };
    for (const Case& c : {Case{"unreadable", false, true, true, "cannot be read back"},
                          Case{"left open", true, false, true, "was not closed cleanly"},
                          Case{"empty", true, true, false, "holds no server configuration"}}) {
        contents.readable = c.readable;
        contents.closedCleanly = c.closedCleanly;
        contents.hasConfiguration = c.hasConfiguration;
        const RunVerdict verdict = Judge();
        EXPECT_EQ(verdict.exitCode, kExitFailed) << c.what;
        EXPECT_NE(Joined(verdict.lines).find(c.line), std::string::npos) << c.what << "\n" << Joined(verdict.lines);
        EXPECT_EQ(verdict.lines.back().rfind("pellucor: summary: rebuild failed, ", 0), 0u) << verdict.lines.back();
    }
}

TEST_F(JudgeRunTest, ManyLossesAreNamedUpToALimitAndCounted) {
    const size_t lost = kLossLinesShown + 5;
    for (size_t i = 0; i < lost; ++i) Entry("user" + std::to_string(i), ImportResult::NoUserNameLine, false);
    const RunVerdict verdict = Judge();
    const std::string text = Joined(verdict.lines);
    size_t named = 0;
    for (size_t at = text.find("no account for"); at != std::string::npos; at = text.find("no account for", at + 1)) ++named;
    EXPECT_EQ(named, kLossLinesShown);
    EXPECT_NE(text.find("pellucor: ... and 5 more entries without an account\n"), std::string::npos) << text;
    EXPECT_EQ(verdict.lines.back(),
              "pellucor: summary: 0 users imported, 25 entries without an account; there was no old database");
}

// A database whose Client List holds a complete account and one the import left half-written.
TEST(ReadNewDatabase, OnlyCompleteAccountsCount) {
    SetHostAddressSource(testing_support::StubAddresses);
    ScratchDir dir;
    const std::string path = dir / "UserConfig.hdb";
    FileService files;
    DatabaseManager db;
    ASSERT_EQ(WriteServerTemplate(db, files, path.c_str()), 0);
    const int32_t database = db.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(database, 0);
    ASSERT_EQ(AddClientAccount(db, database, "00000002", 2, "alice", kDefaultClientPassword), 0);
    const int64_t list = db.HdbFindKey(database, kRootKey, kClientListKey);
    ASSERT_GE(list, 0);
    const int64_t partial = db.HdbCreateKey(database, static_cast<uint32_t>(list), "00000003");
    ASSERT_GE(partial, 0);
    ASSERT_EQ(SetStringValue(db, database, static_cast<uint32_t>(partial), kNameKey, "bob"), 0);
    db.HdbCloseKey(database, static_cast<uint32_t>(partial));
    db.HdbCloseKey(database, static_cast<uint32_t>(list));

    // Read while the writer still has it open: its header says so.
    NewDatabaseContents contents = ReadNewDatabase(db, path);
    EXPECT_FALSE(contents.closedCleanly);
    EXPECT_EQ(db.CloseDatabase(database), 0);
    EXPECT_EQ(OpenDatabaseCount(), 0) << "the read-back gave back the open it shared with the writer";

    contents = ReadNewDatabase(db, path);
    EXPECT_TRUE(contents.readable);
    EXPECT_TRUE(contents.closedCleanly);
    EXPECT_TRUE(contents.hasConfiguration);
    EXPECT_EQ(contents.accounts, std::set<std::string>{"00000002"});
    EXPECT_FALSE(ReadNewDatabase(db, dir / "missing.hdb").readable);
    SetHostAddressSource(nullptr);
}

}  // namespace

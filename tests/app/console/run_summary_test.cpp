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
#include "hdb/database_table.h"
#include "test_support.h"

using namespace app;
using hdb::DatabaseManager;
using hdb::kRootKey;
using hdb::ModeReadWrite;
using hdb::OpenDatabaseCount;

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
        contents.readable = contents.closedCleanly = contents.hasConfiguration = contents.configurationChecked = true;
        contents.hasNextUserId = true;
        contents.nextUserId = 0x100;
    }
    // An entry of the users folder and, unless `inDatabase` is false, its account as written.
    StoredAccount* Entry(const std::string& name, ImportResult result = ImportResult::AccountAdded, bool inDatabase = true) {
        run.report.entries.push_back({name, result, "user " + name});
        if (!inDatabase) return nullptr;
        StoredAccount& account = contents.accounts[name];
        account = StoredAccount{true, "user " + name, true, true, 1};
        return &account;
    }
    RunVerdict Judge() { return JudgeRun(run, contents, files); }
    static std::string Text(const RunVerdict& verdict) { return Joined(verdict.lines); }

    ScratchDir dir;
    fileservice::FileService files;
    RebuildRun run;
    NewDatabaseContents contents;
};

// An account counts only as the database holds it, whatever the import believed it wrote.
TEST_F(JudgeRunTest, CountsOnlyAccountsThatAreThereAsWritten) {
    Entry("00000002");
    Entry("00000003", ImportResult::AccountAdded, false);
    Entry("00000004")->name = "user 0000";
    Entry("00000005")->complete = false;
    Entry("00000006")->copies = 2;
    Entry("00000007")->defaultPassword = false;
    const RunVerdict verdict = Judge();
    EXPECT_EQ(verdict.exitCode, kExitIncomplete);
    EXPECT_EQ(verdict.usersImported, 1);
    EXPECT_EQ(verdict.entriesWithoutAccount, 5);
    const std::string text = Text(verdict);
    for (const char* line :
         {"pellucor: no account for \"00000003\": its account was written but is not in the new database\n",
          "pellucor: the account of \"00000004\" holds the name \"user 0000\", not \"user 00000004\" from its summary\n",
          "pellucor: the account of \"00000005\" lacks its Name, Password or NeedToSynchronizeClient\n",
          "pellucor: the account of \"00000006\" is there 2 times\n",
          "pellucor: the account of \"00000007\" does not hold the default Password and NeedToSynchronizeClient\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

// With --keep-from the passwords and flags come from the old database: not a loss. A carrying
// over that reported a failure is one.
TEST_F(JudgeRunTest, CarriedOverPasswordsAreNotLossesButAFailedCarryOverIs) {
    Entry("00000002")->defaultPassword = false;
    Entry("00000003")->synchronised = false;
    EXPECT_EQ(Judge().exitCode, kExitIncomplete) << "a plain rebuild writes the defaults";
    run.keepFromPath = "old.hdb";
    const RunVerdict verdict = Judge();
    EXPECT_EQ(verdict.exitCode, kExitComplete) << Text(verdict);
    EXPECT_EQ(verdict.usersImported, 2);
    EXPECT_NE(Text(verdict).find("accounts whose password was not kept from the old database have the built-in default "
                                 "password"),
              std::string::npos)
        << Text(verdict);
    const RunVerdict failed = JudgeRun(run, contents, files, true);
    EXPECT_EQ(failed.exitCode, kExitFailed);
    EXPECT_NE(Text(failed).find("what --keep-from asked for was not carried over from \"old.hdb\" whole"),
              std::string::npos)
        << Text(failed);
}

// The server hands out identifiers from Next User ID on, so it must lie above every imported one.
TEST_F(JudgeRunTest, NextUserIdBelowAnImportedUserIsALoss) {
    Entry("00000002");
    Entry("000000ff");
    for (const uint32_t next : {0x100u, 0xffu}) {
        contents.nextUserId = next;
        const RunVerdict verdict = Judge();
        EXPECT_EQ(verdict.exitCode, next == 0x100 ? kExitComplete : kExitIncomplete) << next;
        EXPECT_EQ(Text(verdict).find("Next User ID in the new database is not above the imported user \"000000ff\"") !=
                      std::string::npos,
                  next != 0x100)
            << Text(verdict);
    }
    contents.nextUserId = 0x100;
    contents.hasNextUserId = false;
    EXPECT_EQ(Judge().exitCode, kExitIncomplete) << "a missing counter is as bad";
}

TEST_F(JudgeRunTest, ConfigurationFaultsAreLosses) {
    Entry("00000002");
    contents.configurationFaults = {"\"Config\\Remote Access Security\" is missing"};
    const RunVerdict verdict = Judge();
    EXPECT_EQ(verdict.exitCode, kExitIncomplete);
    EXPECT_NE(Text(verdict).find("pellucor: the server configuration in the new database is not as written: "
                                 "\"Config\\Remote Access Security\" is missing\n"),
              std::string::npos)
        << Text(verdict);
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
    const std::string text = Text(verdict);
    size_t named = 0;
    for (size_t at = text.find("no account for"); at != std::string::npos; at = text.find("no account for", at + 1)) ++named;
    EXPECT_EQ(named, kLossLinesShown);
    EXPECT_NE(text.find("pellucor: ... and 5 more entries without an account\n"), std::string::npos) << text;
    EXPECT_EQ(verdict.lines.back(),
              "pellucor: summary: 0 users imported, 25 entries without an account; there was no old database");
}

// A database whose Client List holds a complete account and one the import left half-written,
// and whose configuration has lost a key and gained one.
TEST(ReadNewDatabase, ReadsAccountsAndComparesTheConfigurationWithTheDefault) {
    SetHostAddressSource(testing_support::StubAddresses);
    ScratchDir dir;
    const std::string path = dir / "UserConfig.hdb";
    fileservice::FileService files;
    DatabaseManager db;
    ASSERT_EQ(WriteServerTemplate(db, files, path.c_str()), 0);

    NewDatabaseContents contents = ReadNewDatabase(db, files, path);
    EXPECT_TRUE(contents.configurationChecked);
    EXPECT_TRUE(contents.configurationFaults.empty()) << contents.configurationFaults.front();
    EXPECT_TRUE(contents.hasNextUserId);
    EXPECT_EQ(contents.nextUserId, 1u);

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
    const int64_t config = db.HdbFindKey(database, kRootKey, kConfigKey);
    ASSERT_GE(config, 0);
    const int64_t name = db.HdbFindKey(database, static_cast<uint32_t>(config), kServerNameKey);
    ASSERT_GE(name, 0);
    ASSERT_EQ(db.HdbDeleteKey(database, static_cast<uint32_t>(name)), 0);
    ASSERT_EQ(SetStringValue(db, database, static_cast<uint32_t>(config), "Stray", "x"), 0);
    db.HdbCloseKey(database, static_cast<uint32_t>(config));

    // Read while the writer still has it open: its header says so.
    contents = ReadNewDatabase(db, files, path);
    EXPECT_FALSE(contents.closedCleanly);
    EXPECT_EQ(db.CloseDatabase(database), 0);
    EXPECT_EQ(OpenDatabaseCount(), 0) << "the read-back gave back the open it shared with the writer";

    contents = ReadNewDatabase(db, files, path);
    EXPECT_TRUE(contents.readable);
    EXPECT_TRUE(contents.closedCleanly);
    EXPECT_TRUE(contents.hasConfiguration);
    EXPECT_EQ(contents.nextUserId, 3u);
    ASSERT_EQ(contents.accounts.size(), 2u);
    const StoredAccount& alice = contents.accounts["00000002"];
    EXPECT_TRUE(alice.complete && alice.defaultPassword && alice.synchronised);
    EXPECT_EQ(alice.name, "alice");
    EXPECT_EQ(alice.copies, 1);
    EXPECT_FALSE(contents.accounts["00000003"].complete);
    EXPECT_EQ(contents.configurationFaults,
              (std::vector<std::string>{"\"Config\\ServerNameOrURL\" is missing",
                                        "\"Config\\Stray\" is not part of the default configuration"}));
    EXPECT_FALSE(ReadNewDatabase(db, files, dir / "missing.hdb").readable);

    // Settings under Config carried over from an old database may hold any value; a missing
    // one is missed all the same.
    const int32_t again = db.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(again, 0);
    const int64_t configAgain = db.HdbFindKey(again, kRootKey, kConfigKey);
    ASSERT_GE(configAgain, 0);
    ASSERT_EQ(SetStringValue(db, again, static_cast<uint32_t>(configAgain), kNextAdminIdKey, "00000009"), 0);
    db.HdbCloseKey(again, static_cast<uint32_t>(configAgain));
    db.CloseDatabase(again);
    EXPECT_EQ(ReadNewDatabase(db, files, path).configurationFaults.size(), 3u);
    EXPECT_EQ(ReadNewDatabase(db, files, path, true).configurationFaults,
              (std::vector<std::string>{"\"Config\\ServerNameOrURL\" is missing",
                                        "\"Config\\Stray\" is not part of the default configuration"}));
    SetHostAddressSource(nullptr);
}

}  // namespace

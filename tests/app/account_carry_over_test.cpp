#include "app/account_carry_over.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/local_addresses.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/user_import.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "run_test_support.h"
#include "test_support.h"
#include "user_config_tree.h"

using namespace app;
using hdb::DatabaseManager;
using hdb::kRootKey;
using hdb::ModeReadWrite;

namespace {

using testing_support::ReadDatabaseTree;
using testing_support::RecordingHost;
using testing_support::ScratchDir;
using testing_support::WriteText;

const std::string kRoot = "User Configuration Root\\";

std::map<std::string, std::string> Values(const std::string& path) {
    std::map<std::string, std::string> values;
    for (const auto& key : ReadDatabaseTree(path)) values[key.path] = key.value;
    return values;
}

class CarryOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostAddressSource(testing_support::StubAddresses);
        // The old database: two accounts with their own secrets, settings of its own, and
        // what the new configuration does not know.
        ASSERT_EQ(WriteServerTemplate(db, files, oldPath.c_str()), 0);
        const int32_t old = db.OpenDatabase(oldPath.c_str(), ModeReadWrite);
        ASSERT_GE(old, 0);
        ASSERT_EQ(AddClientAccount(db, old, "00000002", 2, "carol", "old secret"), 0);
        ASSERT_EQ(AddClientAccount(db, old, "00000009", 9, "gone", "x"), 0);
        const uint32_t config = static_cast<uint32_t>(db.HdbFindKey(old, kRootKey, kConfigKey));
        SetStringValue(db, old, config, kServerNameKey, "old-server");
        SetStringValue(db, old, config, kNextAdminIdKey, "00000001");
        SetStringValue(db, old, config, "Extra", "x");
        const uint32_t extra = static_cast<uint32_t>(db.HdbFindKey(old, config, "Extra"));
        SetStringValue(db, old, extra, "Below", "y");
        const uint32_t list = static_cast<uint32_t>(db.HdbFindKey(old, kRootKey, kClientListKey));
        const uint32_t carol = static_cast<uint32_t>(db.HdbFindKey(old, list, "00000002"));
        SetStringValue(db, old, carol, "NeedToSynchronizeClient", "1");
        SetStringValue(db, old, carol, "Quota", "5");
        db.CloseDatabase(old);

        // The rebuilt one: carol again, and dave, who is new.
        ASSERT_EQ(WriteServerTemplate(db, files, newPath.c_str()), 0);
        database = db.OpenDatabase(newPath.c_str(), ModeReadWrite);
        ASSERT_GE(database, 0);
        ASSERT_EQ(AddClientAccount(db, database, "00000002", 2, "carol", kDefaultClientPassword), 0);
        ASSERT_EQ(AddClientAccount(db, database, "00000003", 3, "dave", kDefaultClientPassword), 0);
    }
    void TearDown() override {
        if (database >= 0) db.CloseDatabase(database);
        SetHostAddressSource(nullptr);
    }

    int32_t Carry(const std::string& from) {
        const int32_t result = CarryOverFromOld(db, database, from.c_str());
        db.CloseDatabase(database);
        database = -1;
        return result;
    }

    ScratchDir scratch;
    std::string oldPath = scratch / "UserConfig.hdb.old";
    std::string newPath = scratch / "UserConfig.hdb";
    fileservice::FileService files;
    DatabaseManager db;
    RecordingHost host;
    testing_support::SharedRunScope scope{host, files, db};
    int32_t database = -1;
};

TEST_F(CarryOverTest, AccountsTakeTheirSecretsAndConfigItsSettingsFromTheOldFile) {
    const auto before = Values(newPath);
    const auto old = Values(oldPath);
    ASSERT_EQ(Carry(oldPath), 0);
    const auto after = Values(newPath);

    const std::string carol = kRoot + "Client List\\00000002\\";
    const std::string dave = kRoot + "Client List\\00000003\\";
    EXPECT_EQ(after.at(carol + "Password"), old.at(carol + "Password"));
    EXPECT_NE(after.at(carol + "Password"), before.at(carol + "Password"));
    EXPECT_EQ(after.at(carol + "NeedToSynchronizeClient"), "1");
    EXPECT_EQ(after.at(carol + "Name"), "carol");
    EXPECT_EQ(after.at(dave + "Password"), before.at(dave + "Password"));  // no old account: the default stays
    EXPECT_EQ(after.count(carol + "Quota"), 0u);

    const std::string config = kRoot + "Config\\";
    EXPECT_EQ(after.at(config + "ServerNameOrURL"), "old-server");
    EXPECT_EQ(after.at(config + "Next Admin ID"), "00000002");  // the old one is lower: an ID would come again
    EXPECT_EQ(after.at(config + "Next User ID"), "0000000a");   // the old one is higher: carried
    EXPECT_EQ(after.count(config + "Extra"), 0u);

    EXPECT_EQ(host.lines, (std::vector<std::string>{
                              "Kept from the new configuration: Config\\Next Admin ID 00000002 (the old 00000001 is lower)",
                              "Kept from the old database: Config\\Next User ID",
                              "Kept from the old database: Config\\ServerNameOrURL",
                              "Lost from the old database: Config\\Extra (not a setting of the new configuration)",
                              "Kept from the old database: Client List\\00000002: Password, NeedToSynchronizeClient",
                              "Lost from the old database: Client List\\00000002\\Quota (not carried over)",
                              "Lost from the old database: Client List\\00000009 (no user folder has this account)",
                              "Lost from the old database: Server Admin List (not carried over)",
                          }));
}

TEST_F(CarryOverTest, AnOldFileThatCannotBeOpenedChangesNothingAndSaysSo) {
    const auto before = Values(newPath);
    const std::string missing = scratch / "missing.hdb";
    EXPECT_EQ(Carry(missing), -1);
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0], "Cannot open the old database \"" + missing + "\"; nothing was carried over.");
    EXPECT_TRUE(IsCarryOverFailure(host.lines[0].c_str()));
    EXPECT_FALSE(IsCarryOverFailure("Kept from the old database: Config\\ServerNameOrURL"));
    EXPECT_EQ(Values(newPath), before);
}

TEST(CarryOverSourceTest, TheDatabaseItselfIsReadWhereTheRunSetItAside) {
    EXPECT_EQ(CarryOverSource("/r/userconfig.HDB", "/r/UserConfig.hdb", "/r/UserConfig.hdb.old3"), "/r/UserConfig.hdb.old3");
    EXPECT_EQ(CarryOverSource("/r/saved.hdb", "/r/UserConfig.hdb", "/r/UserConfig.hdb.old3"), "/r/saved.hdb");
    EXPECT_EQ(CarryOverSource("/r/UserConfig.hdb", "/r/UserConfig.hdb", ""), "/r/UserConfig.hdb");
}

// The whole run, asked to keep from the database it rebuilds: it reads the set-aside file.
TEST(CarryOverRunTest, KeepingFromTheRebuiltDatabaseReadsItsSetAsideCopy) {
    ScratchDir dir;
    fileservice::FileService files;
    DatabaseManager databases;
    RecordingHost host;
    testing_support::SharedRunScope scope{host, files, databases};
    ASSERT_TRUE(SetRepositoryPath(dir.path().string()));
    RebuildRun& run = SharedRun();
    std::filesystem::create_directories(dir.path() / "users" / "00000002");
    WriteText(dir / "users/00000002/UserSummary.rtf", "User Name: carol\n");
    ASSERT_EQ(WriteServerTemplate(databases, files, run.databasePath.c_str()), 0);
    const int32_t old = databases.OpenDatabase(run.databasePath.c_str(), ModeReadWrite);
    ASSERT_EQ(AddClientAccount(databases, old, "00000002", 2, "carol", "kept secret"), 0);
    databases.CloseDatabase(old);
    const auto oldValues = Values(run.databasePath);

    run.keepFromPath = run.databasePath;
    RebuildWorker();
    run.keepFromPath.clear();

    const std::string password = kRoot + "Client List\\00000002\\Password";
    EXPECT_EQ(Values(run.databasePath).at(password), oldValues.at(password));
    EXPECT_EQ(Values(run.databasePath + ".old").at(password), oldValues.at(password));
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "Kept from the old database: Client List\\00000002: Password, NeedToSynchronizeClient"),
              host.lines.end());
}

}  // namespace

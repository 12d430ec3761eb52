#include "app/user_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/local_addresses.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "user_config_tree.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/testing/fault_injection.h"
#include "run_test_support.h"
#include "support/number_text.h"
#include "test_support.h"

using namespace app;
using fileservice::FileService;
using fileservice::OpenFileCount;
using hdb::DatabaseManager;
using hdb::kRootKey;
using hdb::ModeReadWrite;

namespace {

using testing_support::KeyEntry;
using testing_support::OpenKeyReports;
using testing_support::ReadDatabaseTree;
using testing_support::RecordingHost;
using testing_support::ScratchDir;
using testing_support::WriteText;

const std::string kRoot = "User Configuration Root";
const std::string kCounter = kRoot + "\\Config\\Next User ID";
const std::string kClients = kRoot + "\\Client List";
// "tamarind" scrambled.
const std::string kScrambledDefault = testing_support::Bytes({0x2E, 0xA2, 0x73, 0xF6, 0x19, 0xBD, 0x46, 0x95});

int32_t OneAddress(uint32_t* addresses, int32_t) {
    addresses[0] = 0x0100007F;
    return 1;
}

// A database holding the template, open for writing, with the run's objects pointing at this
// fixture's.
class UserImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostAddressSource(OneAddress);
        Fresh();
    }
    void TearDown() override {
        if (database >= 0) db.CloseDatabase(database);
        platform::ClearFaults();
        SetHostAddressSource(nullptr);
    }

    // A new database holding only the template, open for writing.
    void Fresh() {
        if (database >= 0) db.CloseDatabase(database);
        database = -1;
        std::filesystem::remove(path);
        ASSERT_EQ(WriteServerTemplate(db, files, path.c_str()), 0);
        template_ = ReadDatabaseTree(path);
        Open();
    }

    void Open() {
        database = db.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_GE(database, 0);
    }
    // Closes the database (counting keys left open) and reads it back.
    std::vector<KeyEntry> CloseAndRead() {
        OpenKeyReports reports;
        db.CloseDatabase(database);
        database = -1;
        EXPECT_EQ(reports.count(), 0) << "a key was left open";
        return ReadDatabaseTree(path);
    }

    int32_t Add(const char* folder, const char* name = "someone") {
        return AddClientAccount(db, database, folder, support::HexToUInt(folder), name, kDefaultClientPassword);
    }

    static std::string ValueOf(const std::vector<KeyEntry>& tree, const std::string& keyPath) {
        for (const KeyEntry& key : tree)
            if (key.path == keyPath) return key.value;
        return "<missing>";
    }

    // The keys the import added (or changed) over the template.
    std::vector<KeyEntry> Added(const std::vector<KeyEntry>& tree) const {
        std::vector<KeyEntry> added;
        for (const KeyEntry& key : tree)
            if (std::find(template_.begin(), template_.end(), key) == template_.end()) added.push_back(key);
        return added;
    }

    RecordingHost host;
    FileService files;
    DatabaseManager db;
    ScratchDir scratch;
    std::string path = scratch / "UserConfig.hdb";
    int32_t database = -1;
    std::vector<KeyEntry> template_;
    testing_support::SharedRunScope scope{host, files, db};
};

TEST_F(UserImportTest, AccountsAreAddedInOrderAndTheCounterOnlyRises) {
    struct Case {
        std::vector<const char*> folders;
        const char* counter;
    } cases[] = {
        {{"0000002a", "00000005"}, "0000002b"},  // a lower id afterwards leaves the counter
        {{"00000001"}, "00000002"},
        {{"00000000"}, "00000001"},  // 0 is below the starting value
        {{"Bob"}, "00000b8c"},       // not hexadecimal: its HexToUInt value b8b counts
        {{"ffffffff"}, "00000001"},  // no successor: the counter is not wrapped to 0
    };
    for (const Case& c : cases) {
        Fresh();
        std::vector<KeyEntry> expected = {{kCounter, c.counter}};
        if (std::strcmp(c.counter, "00000001") == 0) expected.clear();  // unchanged
        for (const char* folder : c.folders) {
            EXPECT_EQ(Add(folder, folder), 0) << folder;
            const std::vector<KeyEntry> account = testing_support::ExpectedAccount(folder, folder);
            expected.insert(expected.end(), account.begin(), account.end());
        }
        EXPECT_EQ(Added(CloseAndRead()), expected) << c.folders.front();
    }
}

TEST_F(UserImportTest, MissingCounterCountsAsOneAndIsWrittenAnew) {
    const int64_t config = db.HdbFindKey(database, kRootKey, kConfigKey);
    ASSERT_GE(config, 0);
    const int64_t counter = db.HdbFindKey(database, static_cast<uint32_t>(config), kNextUserIdKey);
    ASSERT_GE(counter, 0);
    ASSERT_EQ(db.HdbDeleteKey(database, static_cast<uint32_t>(counter)), 0);

    EXPECT_EQ(Add("00000000"), 0);
    char buffer[kCounterTextSize + 1];
    EXPECT_EQ(GetStringValue(db, database, static_cast<uint32_t>(config), kNextUserIdKey, buffer, kCounterTextSize), -1)
        << "id 0 does not reach the counter's starting value";
    EXPECT_EQ(Add("00000003"), 0);
    EXPECT_EQ(GetStringValue(db, database, static_cast<uint32_t>(config), kNextUserIdKey, buffer, kCounterTextSize), 8);
    EXPECT_STREQ(buffer, "00000004");
    EXPECT_EQ(ValueOf(CloseAndRead(), kRoot + "\\Config\\Next User ID"), "00000004");
}

TEST_F(UserImportTest, StringValuesAreReplacedWholeAndReadBackBounded) {
    ASSERT_EQ(SetStringValue(db, database, kRootKey, "Setting", "a longer text"), 0);
    ASSERT_EQ(SetStringValue(db, database, kRootKey, "Setting", "ab"), 0);
    char buffer[5];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetStringValue(db, database, kRootKey, "Setting", buffer, 4), 2);
    EXPECT_STREQ(buffer, "ab");
    ASSERT_EQ(SetStringValue(db, database, kRootKey, "Setting", "abcdefgh"), 0);
    EXPECT_EQ(GetStringValue(db, database, kRootKey, "Setting", buffer, 4), 4);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(GetStringValue(db, database, kRootKey, "Missing", buffer, 4), -1);
    EXPECT_EQ(ValueOf(CloseAndRead(), kRoot + "\\Setting"), "abcdefgh");
}

TEST_F(UserImportTest, MissingConfigOrClientListAddsNoAccount) {
    // Without Config nothing happens at all.
    db.CloseDatabase(database);
    std::filesystem::remove(path);
    Open();
    EXPECT_EQ(Add("00000007"), -1);
    EXPECT_TRUE(CloseAndRead().empty());

    // Config but no Client List: the counter is raised, no account is added.
    Open();
    ASSERT_GE(db.HdbCreateKey(database, kRootKey, kRoot.c_str()), 0);
    const int64_t config = db.HdbCreateKey(database, kRootKey, kConfigKey);
    ASSERT_GE(config, 0);
    db.HdbCloseKey(database, static_cast<uint32_t>(config));
    db.HdbCloseKey(database, kRootKey);
    EXPECT_EQ(Add("00000007"), -1);
    EXPECT_EQ(CloseAndRead(), (std::vector<KeyEntry>{{kRoot, ""}, {kRoot + "\\Config", ""}, {kCounter, "00000008"}}));
}

// Whichever allocation fails, no key stays open, and an account is either whole or lacks its
// Password and everything after it.
TEST_F(UserImportTest, PartFailuresLeaveNoKeyOpen) {
    platform::ResetCallCounts();
    ASSERT_EQ(Add("00000002"), 0);
    const uint64_t allocations = platform::CallCount(platform::CallKind::Allocate);
    ASSERT_GT(allocations, 0u);
    bool nameOnly = false;
    for (uint32_t nth = 1; nth <= allocations; ++nth) {
        Fresh();
        platform::InjectFault(platform::CallKind::Allocate, nth);
        const int32_t result = Add("00000002", "carol");
        platform::ClearFaults();
        const std::vector<KeyEntry> tree = CloseAndRead();
        const std::string at = kClients + "\\00000002";
        const std::string password = ValueOf(tree, at + "\\Password");
        if (result == 0) {
            EXPECT_EQ(password, kScrambledDefault) << "allocation " << nth;
        } else {
            EXPECT_EQ(password, "<missing>") << "allocation " << nth;
            EXPECT_EQ(ValueOf(tree, at + "\\NeedToSynchronizeClient"), "<missing>") << "allocation " << nth;
            if (ValueOf(tree, at + "\\Name") == "carol") nameOnly = true;
        }
    }
    EXPECT_TRUE(nameOnly) << "some failure must hit the Password key after the Name was written";
}

TEST_F(UserImportTest, ImportReadsTheSummaryAndReportsWhatItCannotOpen) {
    const std::string users = scratch / "users";
    std::filesystem::create_directories(std::filesystem::path(users) / "00000003");
    const std::string dave = users + "/00000003/UserSummary.rtf";
    std::filesystem::copy_file(std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "pandoc_dave.rtf", dave);
    std::filesystem::create_directories(std::filesystem::path(users) / "00000004");
    WriteText(users + "/00000004/UserSummary.rtf", "{\\rtf1\nno name line\n}");
    const std::string missing = users + "/00000005/UserSummary.rtf";
    const std::string fileEntry = users + "/notes.txt/UserSummary.rtf";  // an entry that is a file
    WriteText(users + "/notes.txt", "User Name: nobody\n");

    EXPECT_EQ(ImportUser(database, "00000003", 3, dave.c_str()), 0);
    EXPECT_EQ(ImportUser(database, "00000004", 4, (users + "/00000004/UserSummary.rtf").c_str()), 0);
    EXPECT_EQ(ImportUser(database, "00000005", 5, missing.c_str()), 0);
    EXPECT_EQ(ImportUser(database, "notes.txt", support::HexToUInt("notes.txt"), fileEntry.c_str()), 0);
    platform::InjectFault(platform::CallKind::Open, 1);
    EXPECT_EQ(ImportUser(database, "00000003", 3, dave.c_str()), 0);  // unreadable this time
    platform::ClearFaults();

    const auto cannotOpen = [](const std::string& summary) {
        return "ERROR - Cannot open summary file \"" + summary + "\" repair is incomplete.";
    };
    EXPECT_EQ(host.lines, (std::vector<std::string>{
                              "Processing user ID \"00000003\"...",
                              "Processing user ID \"00000004\"...",
                              "Processing user ID \"00000005\"...",
                              cannotOpen(missing),
                              "Processing user ID \"notes.txt\"...",
                              cannotOpen(fileEntry),
                              "Processing user ID \"00000003\"...",
                              cannotOpen(dave),
                          }));
    std::vector<KeyEntry> expected = {{kCounter, "00000004"}};
    const std::vector<KeyEntry> account = testing_support::ExpectedAccount("00000003", "dave\\par}");
    expected.insert(expected.end(), account.begin(), account.end());
    EXPECT_EQ(Added(CloseAndRead()), expected);
    EXPECT_EQ(OpenFileCount(), 0) << "every summary is closed";
}

// How each import ended, and a failed read of the summary: its own status line and no account,
// not an account named after what was read before the failure.
TEST_F(UserImportTest, EachImportTellsHowItEnded) {
    const std::string users = scratch / "users";
    std::filesystem::create_directories(users);
    const std::string named = users + "/named.rtf";
    WriteText(named, "{\\rtf1\nUser Name: alice\n}");
    const std::string nameless = users + "/nameless.rtf";
    WriteText(nameless, "{\\rtf1\nno name line\n}");
    const std::string missing = users + "/missing.rtf";

    EXPECT_EQ(ImportUserAccount(database, "00000003", 3, named.c_str()), ImportResult::AccountAdded);
    EXPECT_EQ(ImportUserAccount(database, "00000004", 4, nameless.c_str()), ImportResult::NoUserNameLine);
    EXPECT_EQ(ImportUserAccount(database, "00000005", 5, missing.c_str()), ImportResult::SummaryNotOpened);
    platform::InjectFault(platform::CallKind::Read, 1);  // the summary's first read
    EXPECT_EQ(ImportUserAccount(database, "00000006", 6, named.c_str()), ImportResult::SummaryNotRead);
    platform::ClearFaults();
    EXPECT_EQ(host.lines.back(), "ERROR - Cannot read summary file \"" + named + "\" repair is incomplete.");
    EXPECT_EQ(OpenFileCount(), 1) << "only the database: the summary is closed after a failed read too";

    const int64_t list = db.HdbFindKey(database, kRootKey, kClientListKey);
    ASSERT_GE(list, 0);
    for (const char* folder : {"00000004", "00000005", "00000006"})
        EXPECT_LT(db.HdbFindKey(database, static_cast<uint32_t>(list), folder), 0) << folder;
    ASSERT_EQ(db.HdbDeleteKey(database, static_cast<uint32_t>(list)), 0);
    EXPECT_EQ(ImportUserAccount(database, "00000007", 7, named.c_str()), ImportResult::AccountNotWritten);

    const std::vector<KeyEntry> tree = CloseAndRead();
    EXPECT_EQ(ValueOf(tree, kCounter), "00000008") << "Config was there, so the counter rose before Client List was missed";
}

}  // namespace

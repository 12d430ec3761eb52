#include "app/server_template.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/local_addresses.h"
#include "user_config_tree.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/testing/fault_injection.h"
#include "platform/network.h"
#include "test_support.h"

using namespace app;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;
using hdb::ModeReadWrite;

namespace {

using testing_support::KeyEntry;
using testing_support::OpenKeyReports;
using testing_support::ReadDatabaseTree;
using testing_support::Bytes;
using testing_support::ExpectedTemplate;
using testing_support::ScratchDir;
using testing_support::StubAddresses;
using testing_support::StubList;
using testing_support::g_addressCount;

class ServerTemplateTest : public ::testing::Test {
protected:
    void SetUp() override { SetHostAddressSource(StubAddresses); }
    void TearDown() override {
        SetHostAddressSource(nullptr);
        platform::ClearFaults();
        g_addressCount = 1;
    }

    int32_t Write() { return WriteServerTemplate(databases, files, path.c_str()); }

    fileservice::FileService files;
    DatabaseManager databases;
    ScratchDir scratch;
    std::string path = scratch / "UserConfig.hdb";
};

TEST_F(ServerTemplateTest, WritesTheWholeTreeInOrderWithExactValues) {
    OpenKeyReports reports;
    ASSERT_EQ(Write(), 0);
    EXPECT_EQ(reports.count(), 0) << "every key is closed before the database";
    // One address 192.168.1.10: both lists are 01 00 00 00 C0 A8 01 0A.
    EXPECT_EQ(StubList(1), Bytes({1, 0, 0, 0, 0xC0, 0xA8, 0x01, 0x0A}));
    EXPECT_EQ(ReadDatabaseTree(path), ExpectedTemplate(StubList(1)));

    const int32_t database = databases.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(database, 0);
    EXPECT_EQ(databases.GetAppValue(database), 1);
    EXPECT_EQ(databases.GetKeyCount(database), static_cast<int32_t>(ExpectedTemplate("").size()));
    char name[64];
    EXPECT_GT(databases.HdbGetKeyName(database, 1, name, sizeof name), 0);
    EXPECT_STREQ(name, "User Configuration Root") << "the root is key 1";
    databases.CloseDatabase(database);
}

TEST_F(ServerTemplateTest, BindListsHoldAtMostSixtyFourAddressesAndNoneWithoutAHost) {
    struct Case {
        int32_t hostAddresses;
        std::string list;
    } cases[] = {
        {70, StubList(64)},
        {-1, Bytes({0, 0, 0, 0})},  // no name: count 0, the template goes on
        {0, Bytes({0, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        g_addressCount = c.hostAddresses;
        std::filesystem::remove(path);
        ASSERT_EQ(Write(), 0) << c.hostAddresses;
        EXPECT_EQ(ReadDatabaseTree(path), ExpectedTemplate(c.list)) << c.hostAddresses;
    }
    EXPECT_EQ(StubList(64).size(), 260u);
}

TEST_F(ServerTemplateTest, UnopenableDatabaseIsReportedAndNothingDeleted) {
    std::filesystem::create_directory(path);  // a folder where the file should be
    EXPECT_EQ(Write(), -1);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

// Whatever allocation fails, the template either completes (the access points may then be
// incomplete) or removes its file; it never leaves a key open.
TEST_F(ServerTemplateTest, FailuresEitherDeleteTheFileOrLeaveAWholeSkeleton) {
    platform::ResetCallCounts();
    ASSERT_EQ(Write(), 0);
    const uint64_t allocations = platform::CallCount(platform::CallKind::Allocate);
    ASSERT_GT(allocations, 0u);
    int failures = 0;
    for (uint32_t nth = 1; nth <= allocations; ++nth) {
        std::filesystem::remove(path);
        OpenKeyReports reports;
        platform::InjectFault(platform::CallKind::Allocate, nth);
        const int32_t result = Write();
        platform::ClearFaults();
        EXPECT_EQ(reports.count(), 0) << "allocation " << nth;
        if (result == -1) {
            ++failures;
            EXPECT_FALSE(std::filesystem::exists(path)) << "allocation " << nth;
            continue;
        }
        ASSERT_EQ(result, 0);
        std::vector<std::string> paths;
        for (const KeyEntry& key : ReadDatabaseTree(path)) paths.push_back(key.path);
        for (const KeyEntry& key : ExpectedTemplate("")) {
            if (key.path.find("Remote Access Security") != std::string::npos) continue;
            EXPECT_NE(std::find(paths.begin(), paths.end(), key.path), paths.end())
                << key.path << " after allocation " << nth;
        }
    }
    EXPECT_GT(failures, 0) << "some allocation must be one a skeleton key needs";
}

// The close writes the template's blocks and its header; when any of them fails the file is not
// the template (it may still carry the empty header of its creation) and goes.
TEST_F(ServerTemplateTest, ACloseThatCannotWriteEverythingRemovesTheFile) {
    platform::ResetCallCounts();
    ASSERT_EQ(Write(), 0);
    const uint64_t writes = platform::CallCount(platform::CallKind::Write);
    for (const uint64_t nth : {writes, writes - 1}) {
        std::filesystem::remove(path);
        OpenKeyReports reports;
        platform::InjectFault(platform::CallKind::Write, static_cast<uint32_t>(nth));
        EXPECT_EQ(Write(), -1) << "write " << nth << " of " << writes;
        platform::ClearFaults();
        EXPECT_FALSE(std::filesystem::exists(path)) << "write " << nth;
        EXPECT_EQ(reports.count(), 0);
    }
}

TEST_F(ServerTemplateTest, AccessSettingsUpdateExistingKeysAndAnyNonZeroWhichIsTheClientPoint) {
    ASSERT_EQ(Write(), 0);
    const int32_t database = databases.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(database, 0);
    AccessSettings settings{};
    settings.enabled = 2;  // only 1 counts as on
    settings.listenOnAnyIp = 1;
    settings.port = 80;
    settings.acceptConnectionFrom = -7;
    settings.acceptCount = 2;
    const uint8_t accept[8] = {10, 0, 0, 1, 10, 0, 0, 2};
    std::memcpy(settings.acceptAddresses, accept, sizeof accept);
    EXPECT_EQ(WriteAccessSettings(databases, database, settings, 5), 0);
    databases.CloseDatabase(database);

    const std::string at = "User Configuration Root\\Config\\Remote Access Security\\Client Access\\";
    std::vector<KeyEntry> tree = ReadDatabaseTree(path);
    auto value = [&](const std::string& name) {
        for (const KeyEntry& key : tree)
            if (key.path == at + name) return key.value;
        return std::string("<missing>");
    };
    EXPECT_EQ(value("Enabled"), "0");
    EXPECT_EQ(value("Port"), "80") << "numbers replace the whole value";
    EXPECT_EQ(value("AcceptConnectionFrom"), "-7");
    EXPECT_EQ(value("AcceptFromList"), Bytes({2, 0, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2}));
    // A shorter value replaces a longer one whole: no stale address after a count of 0.
    EXPECT_EQ(value("BindToIPList"), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(tree.size(), ExpectedTemplate("").size()) << "no key was added";
}

// Counts that do not fit a record are stored as the nearest bound and reported; the list never
// reaches past the record's addresses, and the other settings are written all the same.
TEST_F(ServerTemplateTest, AddressCountsOutsideTheRecordAreBoundedAndReported) {
    ASSERT_EQ(Write(), 0);
    struct Case {
        int32_t count;
        int32_t stored;
    } cases[] = {{-3, 0}, {kAddressListCapacity + 1, kAddressListCapacity}, {100000, kAddressListCapacity}};
    for (const Case& c : cases) {
        const int32_t database = databases.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_GE(database, 0);
        AccessSettings settings{};
        settings.enabled = 1;
        settings.port = 21;
        settings.bindCount = c.count;
        for (int32_t i = 0; i < kAddressListCapacity; ++i) settings.bindAddresses[i] = static_cast<uint32_t>(i);
        EXPECT_EQ(WriteAccessSettings(databases, database, settings, 0), -1) << c.count;
        databases.CloseDatabase(database);

        std::string expected(4, '\0');
        std::memcpy(expected.data(), &c.stored, 4);
        expected.append(reinterpret_cast<const char*>(settings.bindAddresses), static_cast<size_t>(c.stored) * 4);
        const std::string at = "User Configuration Root\\Config\\Remote Access Security\\System Admin Access\\";
        std::string bindList = "<missing>", port = "<missing>";
        for (const KeyEntry& key : ReadDatabaseTree(path)) {
            if (key.path == at + "BindToIPList") bindList = key.value;
            if (key.path == at + "Port") port = key.value;
        }
        EXPECT_EQ(bindList.substr(0, 4), expected.substr(0, 4)) << "stored count for " << c.count;
        EXPECT_TRUE(bindList == expected) << "list of " << bindList.size() << " bytes for " << c.count;
        EXPECT_EQ(port, "21") << c.count;
    }
}

}  // namespace

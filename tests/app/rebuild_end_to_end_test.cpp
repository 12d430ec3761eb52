// Whole rebuilds of real repositories: the sample one shipped with the project and ones made
// from summaries written by word processors. The database must hold the template and exactly
// one account per readable summary, in the order the users folder is walked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/local_addresses.h"
#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/platform.h"
#include "run_test_support.h"
#include "test_support.h"
#include "user_config_tree.h"

using namespace app;

namespace {

namespace fs = std::filesystem;
using testing_support::ExpectedAccount;
using testing_support::ExpectedTemplate;
using testing_support::KeyEntry;
using testing_support::OpenKeyReports;
using testing_support::ReadDatabaseTree;
using testing_support::RecordingHost;
using testing_support::ScratchDir;
using testing_support::StubAddresses;
using testing_support::StubList;

const fs::path kSourceRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RebuildEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        SetHostAddressSource(StubAddresses);
        ASSERT_TRUE(SetRepositoryPath(repository.path().string()));
    }
    void TearDown() override { SetHostAddressSource(nullptr); }

    fs::path Users() const { return repository.path() / "users"; }

    // The users folder's entries in the order the system lists them.
    std::vector<std::string> DirectoryOrder() const {
        return testing_support::SystemListing((Users() / "*.*").string());
    }

    // Runs the rebuild and checks its lines and its database against `names` (folder -> user
    // name; folders missing from it have no readable summary).
    void RunAndCheck(const std::vector<std::pair<std::string, std::string>>& names, const char* counter) {
        OpenKeyReports reports;
        RebuildWorker();
        EXPECT_EQ(reports.count(), 0) << "a key was left open at a close";
        EXPECT_EQ(host.messages,
                  std::vector<std::string>{std::string(kCompletionCaption) + ": " + kCompletionText});

        std::vector<std::string> lines;
        std::vector<KeyEntry> expected = ExpectedTemplate(StubList(1));
        for (KeyEntry& key : expected)
            if (key.path == "User Configuration Root\\Config\\Next User ID") key.value = counter;
        for (const std::string& entry : DirectoryOrder()) {
            lines.push_back("Processing user ID \"" + entry + "\"...");
            const auto named = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == entry; });
            if (named == names.end()) {
                const std::string summary = (Users() / entry / "UserSummary.rtf").string();
                lines.push_back("ERROR - Cannot open summary file \"" + summary + "\" repair is incomplete.");
                continue;
            }
            const std::vector<KeyEntry> account = ExpectedAccount(entry, named->second);
            expected.insert(expected.end(), account.begin(), account.end());
        }
        EXPECT_EQ(host.lines, lines);
        EXPECT_EQ(ReadDatabaseTree(repository / "UserConfig.hdb"), expected);
        EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb.mirror")) << "a clean close removes the mirror";
    }

    RecordingHost host;
    fileservice::FileService files;
    hdb::DatabaseManager databases;
    ScratchDir repository;
    testing_support::SharedRunScope scope{host, files, databases};
};

TEST_F(RebuildEndToEnd, SampleRepository) {
    fs::copy(kSourceRoot / "examples" / "repository", repository.path(), fs::copy_options::recursive);
    RunAndCheck({{"00000002", "carol\\par"}, {"00000003", "dave\\par}"}, {"00000004", "erin}"}}, "00000005");
}

TEST_F(RebuildEndToEnd, RepositoryOfWordProcessorSummaries) {
    const fs::path data = kSourceRoot / "tests" / "data";
    fs::create_directories(Users() / "0000002a");
    fs::copy_file(data / "libreoffice_erin.rtf", Users() / "0000002a" / "UserSummary.rtf");
    // The same summary as a Windows editor saves it: CR LF line ends give the same name.
    std::string crlf;
    for (char c : ReadFile(data / "pandoc_dave.rtf")) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    fs::create_directories(Users() / "00000005");
    testing_support::WriteText((Users() / "00000005" / "UserSummary.rtf").string(), crlf);
    fs::create_directories(Users() / "00000007");  // no summary
    testing_support::WriteText((Users() / "00000009").string(), "a file, not a user folder");

    RunAndCheck({{"0000002a", "erin}"}, {"00000005", "dave\\par}"}}, "0000002b");
}

// Names in other letter case, found as Windows finds them: a "Users" folder, summaries named
// "usersummary.rtf" and "USERSUMMARY.RTF", and an old "userconfig.hdb", which is the database
// and is set aside under the name the run asks for. Folders are walked in case-free order.
TEST_F(RebuildEndToEnd, RepositoryInMixedCase) {
    const fs::path data = kSourceRoot / "tests" / "data";
    const fs::path users = repository.path() / "Users";
    fs::create_directories(users / "0000000B");
    fs::copy_file(data / "libreoffice_erin.rtf", users / "0000000B" / "usersummary.rtf");
    fs::create_directories(users / "0000000a");
    fs::copy_file(data / "pandoc_dave.rtf", users / "0000000a" / "USERSUMMARY.RTF");
    fs::create_directories(users / "0000000c");
    testing_support::WriteText((repository.path() / "userconfig.hdb").string(), "the old database");

    EXPECT_EQ(DirectoryOrder(), (std::vector<std::string>{"0000000a", "0000000B", "0000000c"}));
    RunAndCheck({{"0000000a", "dave\\par}"}, {"0000000B", "erin}"}}, "0000000c");
    EXPECT_EQ(testing_support::SystemListing(repository / "*"),
              (std::vector<std::string>{"UserConfig.hdb", "UserConfig.hdb.old", "Users"}));
    EXPECT_EQ(ReadFile(repository.path() / "UserConfig.hdb.old"), "the old database");
}

}  // namespace

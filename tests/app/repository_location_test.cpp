// Finding the repository through the uninstall entry and RepositoryConfig.ini. On Windows (under
// Wine) these tests write the real registry and read it with the real calls; on POSIX they use a
// scratch Wine prefix whose drive E: is a scratch folder.
#include "app/repository_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/rebuild_run.h"
#include "platform/testing/fault_injection.h"
#include "platform/settings.h"
#include "platform/testing/settings.h"
#include "test_support.h"

using namespace app;

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;

class RepositoryLocation : public testing::Test {
protected:
    void SetUp() override {
        RebuildRun& run = SharedRun();
        savedRepository_ = run.repositoryPath;
        savedDatabase_ = run.databasePath;
        run.repositoryPath.clear();
#ifdef _WIN32
        drive_ = scratch_.path();
        // Keep an entry that was there before the test (a test prefix should have none).
        if (platform::RegistryKey key = platform::OpenMachineKey(kUninstallKey)) {
            char value[kUninstallValueSize];
            if (platform::QueryKeyText(key, kUninstallValue, value, sizeof value)) savedEntry_ = value;
            platform::CloseKey(key);
        }
#else
        drive_ = scratch_.path() / "drive-e";
        fs::create_directories(drive_);
        fs::create_directories(scratch_.path() / "prefix" / "dosdevices");
        fs::create_directory_symlink(drive_, scratch_.path() / "prefix" / "dosdevices" / "e:");
        platform::SelectWinePrefix((scratch_.path() / "prefix").string().c_str());
#endif
        platform::DeleteMachineKey(kUninstallKey);
    }

    void TearDown() override {
        platform::ClearFaults();
        platform::DeleteMachineKey(kUninstallKey);
        if (!savedEntry_.empty()) platform::WriteMachineKeyText(kUninstallKey, kUninstallValue, savedEntry_.c_str());
        platform::SelectWinePrefix(nullptr);
        RebuildRun& run = SharedRun();
        run.repositoryPath = savedRepository_;
        run.databasePath = savedDatabase_;
    }

    // `relative` (with backslashes) on the scratch drive as the registry and the ini name it,
    // and as the run reaches it.
    std::string Windows(const std::string& relative) const {
#ifdef _WIN32
        return drive_.string() + "\\" + relative;
#else
        return "E:\\" + relative;
#endif
    }
    std::string Host(std::string relative) const {
#ifdef _WIN32
        return Windows(relative);
#else
        for (char& c : relative)
            if (c == '\\') c = '/';
        return fs::canonical(drive_).string() + "/" + relative;
#endif
    }

    void Install(const std::string& uninstallString) {
        ASSERT_TRUE(platform::WriteMachineKeyText(kUninstallKey, kUninstallValue, uninstallString.c_str()));
    }
    void Configure(const std::string& content) {
        testing_support::WriteText((drive_ / "Apps" / "Srv" / kRepositoryConfigFile).string(), content);
    }

    // FindRepository takes a non-empty repository path for the command line's.
    static int32_t Find(RepositoryFinding* finding = nullptr) {
        SharedRun().repositoryPath.clear();
        return FindRepository(finding);
    }

    void ExpectPaths(const std::string& repository) const {
        EXPECT_EQ(SharedRun().repositoryPath, repository);
        EXPECT_EQ(SharedRun().databasePath, JoinPath(repository, kDatabaseFileName));
    }
    void ExpectDefaultPaths() const { ExpectPaths(platform::HostPath(kDefaultRepositoryPath)); }

    ScratchDir scratch_;
    fs::path drive_;

private:
    std::string savedRepository_, savedDatabase_, savedEntry_;
};

TEST_F(RepositoryLocation, TheCommandLineWinsWithoutReadingTheRegistry) {
    fs::create_directories(drive_ / "Apps" / "Srv");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    SharedRun().repositoryPath = "\"D:\\Repo\\\"";  // taken whole: quotes and separator stay
    platform::ResetCallCounts();
    RepositoryFinding finding;
    EXPECT_EQ(FindRepository(&finding), 0);
    EXPECT_EQ(finding.source, RepositorySource::CommandLine);
    EXPECT_EQ(platform::CallCount(platform::CallKind::Registry), 0u);
    EXPECT_EQ(platform::CallCount(platform::CallKind::Profile), 0u);
    ExpectPaths("\"D:\\Repo\\\"");
}

TEST_F(RepositoryLocation, WithoutAnUninstallEntryOrItsValueTheDefaultPathsStay) {
    RepositoryFinding finding;
    EXPECT_EQ(Find(&finding), -1);
    EXPECT_EQ(finding.source, RepositorySource::Default);
    EXPECT_NE(finding.problem.find(kUninstallKey), std::string::npos);
    ExpectDefaultPaths();

    ASSERT_TRUE(platform::WriteMachineKeyText(kUninstallKey, "DisplayName", "Orvane"));
    EXPECT_EQ(Find(&finding), -1);
    EXPECT_NE(finding.problem.find(kUninstallValue), std::string::npos);
    ExpectDefaultPaths();
}

TEST_F(RepositoryLocation, TheInstallationsDataFolderWithoutAPathInItsConfiguration) {
    fs::create_directories(drive_ / "Apps" / "Srv");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    const char* configurations[] = {
        nullptr,  // no RepositoryConfig.ini
        "[Repository]\r\nOther=E:\\Elsewhere\r\n",
        "[Settings]\r\nPath=E:\\Elsewhere\r\n",
    };
    for (const char* content : configurations) {
        if (content) Configure(content);
        RepositoryFinding finding;
        EXPECT_EQ(Find(&finding), 0);
        EXPECT_EQ(finding.source, RepositorySource::DataFolder);
        EXPECT_EQ(finding.installationFolder, Windows("Apps\\Srv"));
        EXPECT_EQ(finding.configurationFile, Windows("Apps\\Srv\\RepositoryConfig.ini"));
        ExpectPaths(Host("Apps\\Srv\\data"));
    }
}

TEST_F(RepositoryLocation, PathInTheConfigurationLosesItsTrailingSeparators) {
    fs::create_directories(drive_ / "Apps" / "Srv");
    fs::create_directories(drive_ / "Store");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    Configure("[Repository]\r\nPath=" + Windows("Store") + "\\/\\\r\n");
    RepositoryFinding finding;
    EXPECT_EQ(Find(&finding), 0);
    EXPECT_EQ(finding.source, RepositorySource::Configuration);
    ExpectPaths(Host("Store"));
}

TEST_F(RepositoryLocation, AnUninstallStringWithoutBackslashIsTheInstallationFolder) {
    Install("uninst.exe");
    RepositoryFinding finding;
    EXPECT_EQ(Find(&finding), 0);
    EXPECT_EQ(finding.installationFolder, "uninst.exe");
    EXPECT_EQ(finding.configurationFile, "uninst.exe\\RepositoryConfig.ini");
    ExpectPaths(platform::HostPath("uninst.exe\\data"));
}

TEST_F(RepositoryLocation, FailedReadsFallBack) {
    fs::create_directories(drive_ / "Apps" / "Srv");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    Configure("[Repository]\r\nPath=" + Windows("Store") + "\r\n");

    platform::InjectFault(platform::CallKind::Registry, 1);  // the open
    EXPECT_EQ(Find(), -1);
    ExpectDefaultPaths();
    platform::InjectFault(platform::CallKind::Registry, 2);  // the value
    EXPECT_EQ(Find(), -1);
    ExpectDefaultPaths();
    platform::InjectFault(platform::CallKind::Profile, 1);  // the configuration file
    EXPECT_EQ(Find(), 0);
    ExpectPaths(Host("Apps\\Srv\\data"));
    EXPECT_EQ(Find(), 0);
    ExpectPaths(Host("Store"));
}

// A path the user gave that is too long is refused, and no other path takes its place unasked:
// the shared paths stay empty and the dialog is told to say so.
TEST_F(RepositoryLocation, PathsTooLongAreRefusedAndNothingTakesTheirPlace) {
    struct Case {
        std::string commandLine;
        std::string configuredPath;  // used when there is no command line
    };
    const std::string longest(kMaxPathChars - 1 - std::string(kDatabaseFileName).size(), 'r');
    const Case cases[] = {
        {std::string(kMaxPathChars + 1, 'c'), ""},
        {longest + "r", ""},  // its database path would have 260 characters
        {"", std::string(300, 'p')},
        {"", Windows(std::string(kMaxPathChars, 'q'))},
    };
    fs::create_directories(drive_ / "Apps" / "Srv");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    for (const Case& c : cases) {
        Configure("[Repository]\r\nPath=" + c.configuredPath + "\r\n");
        SharedRun().repositoryPath = c.commandLine;
        RepositoryFinding finding;
        EXPECT_EQ(FindRepository(&finding), -1) << c.commandLine << c.configuredPath;
        EXPECT_EQ(finding.source, RepositorySource::Refused);
        EXPECT_NE(finding.problem.find("259"), std::string::npos) << finding.problem;
        EXPECT_EQ(SharedRun().repositoryPath, "");
        EXPECT_EQ(SharedRun().databasePath, "");
        EXPECT_TRUE(SharedRun().pathRefused);
        EXPECT_EQ(DescribeFinding(finding).rfind("no repository path, because ", 0), 0u) << DescribeFinding(finding);
    }
    SharedRun().repositoryPath = longest;
    EXPECT_EQ(FindRepository(), 0);
    EXPECT_EQ(SharedRun().databasePath.size(), kMaxPathChars);
    EXPECT_FALSE(SharedRun().pathRefused);
}

// An empty Path= names no repository (it would be the current folder): the default paths stay
// and the finding says why.
TEST_F(RepositoryLocation, AnEmptyPathInTheConfigurationKeepsTheDefaultPaths) {
    fs::create_directories(drive_ / "Apps" / "Srv");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    for (const char* value : {"", "\\", "\\/"}) {
        Configure(std::string("[Repository]\r\nPath=") + value + "\r\n");
        RepositoryFinding finding;
        EXPECT_EQ(Find(&finding), -1) << value;
        EXPECT_EQ(finding.source, RepositorySource::Default) << value;
        EXPECT_NE(finding.problem.find("is empty"), std::string::npos) << finding.problem;
        ExpectDefaultPaths();
    }
    EXPECT_FALSE(SetRepositoryPath(""));
}

// The limits hold for the path as the installation gives it; on POSIX its form in the Wine
// prefix may be longer and is still taken.
TEST_F(RepositoryLocation, TheLimitHoldsForThePathAsTheInstallationGivesIt) {
    fs::create_directories(drive_ / "Apps" / "Srv");
    Install(Windows("Apps\\Srv\\uninst.exe"));
    const size_t room = kMaxPathChars - std::string(kDatabaseFileName).size() - 1 - Windows("").size();
    const std::string folder(room, 's');  // the Windows database path has 259 characters
    fs::create_directories(drive_ / folder);
    Configure("[Repository]\r\nPath=" + Windows(folder) + "\r\n");
    RepositoryFinding finding;
    EXPECT_EQ(Find(&finding), 0) << finding.problem;
    EXPECT_EQ(finding.source, RepositorySource::Configuration);
    ExpectPaths(Host(folder));
}

}  // namespace

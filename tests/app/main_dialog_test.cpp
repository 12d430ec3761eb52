#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/repository_location.h"
#include "app/rebuild_run.h"
#include "app/startup.h"
#include "dialog_test_window.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "run_test_support.h"
#include "test_support.h"
#include "user_config_tree.h"

using namespace app;

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;
using testing_support::TestDialogWindow;

const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";

// A users folder of `ids`, each with a word processor's summary.
void AddUsers(const fs::path& repository, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        fs::create_directories(repository / "users" / id);
        fs::copy_file(kData / "libreoffice_erin.rtf", repository / "users" / id / "UserSummary.rtf");
    }
}

// The lines a run over the users folder of `repository` adds, in the order the system lists it.
std::vector<std::string> ProcessingLines(const fs::path& repository) {
    std::vector<std::string> lines;
    for (const std::string& id : testing_support::SystemListing(JoinPath(JoinPath(repository.string(), "users"), "*.*")))
        lines.push_back("Processing user ID \"" + id + "\"...");
    return lines;
}

// The client accounts in the database at `path`.
size_t ClientAccounts(const std::string& path) {
    size_t count = 0;
    for (const auto& key : testing_support::ReadDatabaseTree(path)) {
        const std::string prefix = "User Configuration Root\\Client List\\";
        if (key.path.rfind(prefix, 0) == 0 && key.path.find('\\', prefix.size()) == std::string::npos) ++count;
    }
    return count;
}

bool Contains(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

size_t IndexOf(const std::vector<std::string>& events, const std::string& event) {
    return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

const std::string kCompletion = "message Server UserConfig Data Restored: Database Restoration Complete";

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetRepositoryPath(repository.path().string()));
        platform::AtomicStore(&SharedRun().runState, RunIdle);
    }
    void TearDown() override {
        platform::ClearFaults();
        // A worker left behind would run into the next test.
        window.PumpUntil([] { return platform::AtomicLoad(&SharedRun().runState) == RunIdle; });
    }

    int32_t RunState() const { return platform::AtomicLoad(&SharedRun().runState); }
    void PumpUntilIdle() {
        window.PumpUntil([this] { return RunState() == RunIdle; });
    }
    std::string Database() const { return repository / "UserConfig.hdb"; }

    ScratchDir repository;
    fileservice::FileService files;
    hdb::DatabaseManager databases;
    TestDialogWindow window;
    testing_support::SharedRunScope scope{window, files, databases};
};

TEST_F(MainDialogTest, InitCentresSetsTheRangeAndShowsThePath) {
    ASSERT_TRUE(SetRepositoryPath("\"D:\\Repo\\\""));
    SharedRun().host = nullptr;
    EXPECT_EQ(DialogInit(window), 1);
    EXPECT_EQ(SharedRun().host, &window) << "the worker's lines and message go to this dialog";
    EXPECT_EQ(window.events, (std::vector<std::string>{"move 312 234", "range 0 100", "text 1004 \"D:\\Repo\\\""}));
}

struct CentreCase {
    const char* what;
    int32_t width, height;
    ScreenRect reference, workArea;
    int32_t x, y;
};

TEST(CentredPosition, CentresAndKeepsInsideTheWorkArea) {
    const ScreenRect screen{0, 0, 1024, 768};
    const CentreCase cases[] = {
        {"on the work area", 400, 300, screen, screen, 312, 234},
        {"on a parent", 400, 300, {100, 100, 300, 300}, screen, 0, 50},
        {"halves truncate towards zero", 400, 300, {10, 10, 407, 307}, screen, 9, 9},
        {"kept right of and below the work area's start", 400, 300, {-500, -500, -300, -300}, screen, 0, 0},
        {"kept left of and above its end", 400, 300, {900, 700, 1100, 900}, screen, 624, 468},
        {"wider and taller than the work area: its start wins", 1200, 900, screen, screen, 0, 0},
        {"a work area below a taskbar", 400, 300, {0, 0, 1024, 768}, {0, 40, 1024, 768}, 312, 234},
        {"a parent reaching into the taskbar", 400, 300, {0, 0, 400, 100}, {0, 40, 1024, 768}, 0, 40},
    };
    for (const CentreCase& c : cases) {
        int32_t x = -1;
        int32_t y = -1;
        CentredPosition(c.width, c.height, c.reference, c.workArea, &x, &y);
        EXPECT_EQ(x, c.x) << c.what;
        EXPECT_EQ(y, c.y) << c.what;
    }
}

TEST(CentreWindow, TakesTheParentOrTheWorkAreaOrTheScreen) {
    TestDialogWindow window;
    window.window = {50, 50, 250, 150};  // 200 x 100
    window.workArea = {0, 0, 1000, 700};
    CentreWindow(window);
    EXPECT_EQ(window.movedX, 400);
    EXPECT_EQ(window.movedY, 300);

    window.hasParent = true;
    window.parent = {100, 200, 500, 400};
    CentreWindow(window);
    EXPECT_EQ(window.movedX, 200);
    EXPECT_EQ(window.movedY, 250);

    window.hasParent = false;
    window.hasWorkArea = false;
    CentreWindow(window);
    EXPECT_EQ(window.movedX, 300) << "the screen, 800 x 600, when the work area is unknown";
    EXPECT_EQ(window.movedY, 250);
}

TEST_F(MainDialogTest, CloseBeforeStartEndsAtOnce) {
    for (uint32_t command : {kCommandOk, kCommandCancel, 0x00010002u}) {
        window.events.clear();
        EXPECT_EQ(DialogCommand(window, command), 1) << command;
        EXPECT_EQ(window.events, std::vector<std::string>{"end 1"}) << command;
    }
    EXPECT_EQ(SharedRun().cancelFlag, 0);
}

TEST_F(MainDialogTest, OtherCommandsDoNothing) {
    // A list box notification carries the box's id in its low half.
    for (uint32_t command : {0u, 3u, 1002u, 1004u, 1005u, (1u << 16) | 1005u, 1006u, 1009u}) {
        EXPECT_EQ(DialogCommand(window, command), 0) << command;
    }
    EXPECT_TRUE(window.events.empty());
    EXPECT_EQ(RunState(), RunIdle);
}

TEST_F(MainDialogTest, BrowseCancelledChangesNothing) {
    const std::string path = SharedRun().repositoryPath;
    const std::string database = SharedRun().databasePath;
    EXPECT_EQ(DialogCommand(window, kBrowseId), 0);
    EXPECT_EQ(window.events, std::vector<std::string>{"browse Select the Repository Folder"});
    EXPECT_EQ(SharedRun().repositoryPath, path);
    EXPECT_EQ(SharedRun().databasePath, database);
}

TEST_F(MainDialogTest, BrowsedFolderIsWhereStartWorks) {
    ScratchDir other;
    AddUsers(other.path(), {"00000007"});
    window.browseAnswers = true;
    window.browseFolder = other.path().string();
    EXPECT_EQ(DialogCommand(window, kBrowseId), 0);
    EXPECT_EQ(window.pathText, other.path().string());
    EXPECT_EQ(SharedRun().repositoryPath, other.path().string());
    EXPECT_EQ(SharedRun().databasePath, other / "UserConfig.hdb");

    EXPECT_EQ(DialogCommand(window, kStartId), 0);
    PumpUntilIdle();
    EXPECT_EQ(window.statusLines, ProcessingLines(other.path()));
    EXPECT_EQ(ClientAccounts(other / "UserConfig.hdb"), 1u);
    EXPECT_FALSE(fs::exists(Database())) << "the first repository is not touched";
}

TEST_F(MainDialogTest, BrowsedFolderTooLongForTheDatabasePathIsRefused) {
    const std::string path = SharedRun().repositoryPath;
    window.browseAnswers = true;
    window.browseFolder = std::string(245, 'a');  // 245 + "/UserConfig.hdb" = 260
    EXPECT_EQ(DialogCommand(window, kBrowseId), 0);
    EXPECT_EQ(window.events.back(), std::string("notice ") + kFolderRefusedCaption + ": " + kFolderRefusedText);
    EXPECT_EQ(window.pathText, "");
    EXPECT_EQ(SharedRun().repositoryPath, path);

    window.browseFolder = std::string(244, 'a');
    DialogCommand(window, kBrowseId);
    EXPECT_EQ(window.pathText, window.browseFolder) << "259 characters are allowed";
}

// The path given at start-up was refused and no repository is set: the dialog says so as it
// opens, and Start asks for a folder instead of rebuilding the current one.
TEST_F(MainDialogTest, WithoutARepositoryTheDialogSaysSoAndStartWaitsForBrowse) {
    SharedRun().repositoryPath = std::string(300, 'c');
    EXPECT_EQ(FindRepository(), -1);
    EXPECT_EQ(DialogInit(window), 1);
    EXPECT_EQ(window.events.back(), std::string("notice ") + kFolderRefusedCaption + ": " + kPathRefusedText);
    EXPECT_EQ(DialogCommand(window, kStartId), 0);
    EXPECT_EQ(window.events.back(), std::string("notice ") + kFolderRefusedCaption + ": " + kNoRepositoryText);
    EXPECT_EQ(RunState(), RunIdle) << "nothing started";
    window.browseAnswers = true;
    window.browseFolder = repository.path().string();
    DialogCommand(window, kBrowseId);
    AddUsers(repository.path(), {"00000002"});
    DialogCommand(window, kStartId);
    PumpUntilIdle();
    EXPECT_EQ(ClientAccounts(Database()), 1u);
    SharedRun().pathRefused = false;
}

TEST_F(MainDialogTest, StartRunsOnceAndLeavesOnlyClosing) {
    const std::vector<std::string> ids = {"00000002", "00000003", "0000000a"};
    AddUsers(repository.path(), ids);
    EXPECT_EQ(DialogCommand(window, kStartId), 0);
    EXPECT_FALSE(window.startEnabled);
    EXPECT_FALSE(window.browseEnabled);
    PumpUntilIdle();
    EXPECT_FALSE(window.deadlocked);
    EXPECT_EQ(window.statusLines, ProcessingLines(repository.path()));
    EXPECT_TRUE(Contains(window.events, kCompletion));
    EXPECT_EQ(window.stateDuringMessage, RunRunning);
    EXPECT_EQ(ClientAccounts(Database()), ids.size());

    // After the run nothing turns Start or Browse back on, and closing is immediate.
    window.events.clear();
    EXPECT_EQ(DialogCommand(window, kCommandCancel), 1);
    EXPECT_EQ(window.events, std::vector<std::string>{"end 1"});
    EXPECT_FALSE(window.startEnabled);
    EXPECT_FALSE(window.browseEnabled);
}

TEST_F(MainDialogTest, WorkerThatCannotStartIsReported) {
    platform::InjectFault(platform::CallKind::Thread, 1);
    EXPECT_EQ(DialogCommand(window, kStartId), 0);
    EXPECT_EQ(RunState(), RunIdle);
    EXPECT_EQ(window.statusLines, std::vector<std::string>{kStartFailedLine});
    EXPECT_FALSE(window.startEnabled);
    EXPECT_FALSE(fs::exists(Database()));
    EXPECT_EQ(DialogCommand(window, kCommandCancel), 1);
    EXPECT_EQ(window.endResult, 1);
}

TEST_F(MainDialogTest, CloseDuringARunWaitsForItsEndWhileHandlingItsMessages) {
    const std::vector<std::string> ids = {"00000002", "00000003", "00000004", "00000005"};
    AddUsers(repository.path(), ids);
    DialogCommand(window, kStartId);
    // The worker is running once its first line is here, and cannot end before the dialog's
    // thread has shown its message box.
    window.PumpUntil([this] { return !window.statusLines.empty(); });
    ASSERT_EQ(RunState(), RunRunning);

    EXPECT_EQ(DialogCommand(window, kCommandCancel), 1);
    EXPECT_FALSE(window.deadlocked);
    EXPECT_EQ(RunState(), RunIdle);
    EXPECT_EQ(window.statusLines, ProcessingLines(repository.path()));
    EXPECT_EQ(window.stateDuringMessage, RunCloseRequested);
    EXPECT_EQ(window.cancelDuringMessage, 1);
    ASSERT_TRUE(Contains(window.events, kCompletion));
    EXPECT_LT(IndexOf(window.events, kCompletion), IndexOf(window.events, "end 1")) << "the dialog ends after the run";
    EXPECT_EQ(window.events.back(), "end 1");
    EXPECT_EQ(ClientAccounts(Database()), ids.size());
}

// ---- Start-up ----------------------------------------------------------------------------------

struct FinderView {
    std::string repositoryPath;
    bool preparedFirst = false;
    int calls = 0;
};
FinderView g_finder;
TestDialogWindow* g_window = nullptr;

int32_t RecordingFinder() {
    g_finder.repositoryPath = SharedRun().repositoryPath;
    g_finder.preparedFirst = g_window && g_window->prepared;
    ++g_finder.calls;
    SetRepositoryPath(SharedRun().repositoryPath);
    return 0;
}

class StartupTest : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        g_finder = {};
        g_window = &window;
    }
    void TearDown() override {
        g_window = nullptr;
        MainDialogTest::TearDown();
    }
};

TEST_F(StartupTest, CommandLineIsTakenWholeAndServicesLiveThroughTheDialog) {
    bool servicesDuringDialog = false;
    window.dialog = [&] {
        servicesDuringDialog = SharedRun().fileService != nullptr && SharedRun().databaseManager != nullptr;
    };
    EXPECT_EQ(RunUtility("\"D:\\Repo\\\" ", window, &RecordingFinder), 0);
    EXPECT_EQ(g_finder.calls, 1);
    EXPECT_EQ(g_finder.repositoryPath, "\"D:\\Repo\\\" ") << "quotes, separator and blank stay";
    EXPECT_TRUE(g_finder.preparedFirst) << "the system is prepared before the repository is looked for";
    EXPECT_EQ(window.events, (std::vector<std::string>{"prepare", "dialog"}));
    EXPECT_TRUE(servicesDuringDialog);
    EXPECT_EQ(SharedRun().fileService, nullptr) << "torn down after the dialog";
    EXPECT_EQ(SharedRun().databaseManager, nullptr);
}

TEST_F(StartupTest, EmptyCommandLineLeavesThePathToTheFinder) {
    SharedRun().repositoryPath.clear();
    RunUtility("", window, &RecordingFinder);
    EXPECT_EQ(g_finder.repositoryPath, "");
}

TEST_F(StartupTest, DialogEndedDuringARunTearsDownOnlyAfterTheWorker) {
    const std::vector<std::string> ids = {"00000002", "00000003", "00000004"};
    AddUsers(repository.path(), ids);
    const std::string repositoryPath = repository.path().string();
    // Start, then the dialog ends at once, as a close does while the run state is still 2. The
    // worker cannot have finished: its first line waits for the dialog's thread.
    window.dialog = [&] {
        DialogInit(window);
        DialogCommand(window, kStartId);
    };
    EXPECT_EQ(RunUtility(repositoryPath.c_str(), window, &RecordingFinder), 0);
    EXPECT_EQ(RunState(), RunIdle) << "start-up returned while the worker still ran";
    EXPECT_FALSE(window.deadlocked);
    EXPECT_EQ(window.statusLines, ProcessingLines(repository.path()));
    EXPECT_EQ(ClientAccounts(Database()), ids.size());
    EXPECT_FALSE(fs::exists(Database() + ".mirror")) << "the database was closed cleanly";
}

}  // namespace

// Whole batch runs in this process: what the console prints on each stream and how it exits,
// for complete runs, runs with losses and failed ones (failures made by fault injection).
#include "app/console/batch_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/console/close_requests.h"
#include "app/console/exit_codes.h"
#include "support/number_text.h"
#include "app/local_addresses.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/user_config_tree.h"
#include "console_test_support.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "test_support.h"

using namespace app;
using fileservice::FileActivityHooks;
using fileservice::FileService;
using fileservice::OpenRead;

namespace {

namespace fs = std::filesystem;
using platform::CallKind;
using platform::Fault;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::StringStreams;
using testing_support::WriteText;

// Arms a fault as soon as a file whose name ends in `nameEnd` is opened, so that the run's next
// call of that kind is the one the test means (the first summary's first read, ...).
struct ArmOnOpen {
    std::string nameEnd;
    CallKind kind = CallKind::Read;
    Fault fault;
    bool armed = false;
    int skip = 0;          // opens of such a name to let pass first
    uint32_t repeat = 1;   // calls that fail once armed
    bool clearOnDelete = false;  // disarm when such a name is deleted
};
ArmOnOpen g_arm;

bool NameMatches(const std::string& name) {
    return name.size() >= g_arm.nameEnd.size() &&
           name.compare(name.size() - g_arm.nameEnd.size(), g_arm.nameEnd.size(), g_arm.nameEnd) == 0;
}

void ArmingOnOpen(const char* name, uint32_t, int32_t) {
    if (g_arm.armed || !NameMatches(name)) return;
    if (g_arm.skip-- > 0) return;
    g_arm.armed = true;
    platform::InjectFault(g_arm.kind, 1, g_arm.fault, g_arm.repeat);
}

void DisarmingOnDelete(const char* name) {
    if (g_arm.clearOnDelete && g_arm.armed && NameMatches(name)) platform::ClearFaults();
}
const FileActivityHooks kArmingHooks{ArmingOnOpen, nullptr, nullptr, DisarmingOnDelete, nullptr, nullptr};

const char kSummary[] = "{\\rtf1\\ansi\nUser Name: %s\\par\n}";

class BatchRun : public testing::Test {
protected:
    void SetUp() override {
        SetHostAddressSource(testing_support::StubAddresses);
        ResetCloseRequests();
    }
    void TearDown() override {
        files.SetFileActivityHooks(nullptr);
        platform::ClearFaults();
        SetHostAddressSource(nullptr);
        ResetCloseRequests();
        SetClosePhase(kCloseEndsAtOnce);
    }

    std::string Repository() const { return repository.path().string(); }
    std::string Database() const { return repository / "UserConfig.hdb"; }
    std::string Users() const { return repository / "users"; }
    std::string UserFolder(const std::string& name) const { return Users() + platform::kPathSeparator + name; }
    std::string SummaryOf(const std::string& name) const {
        return UserFolder(name) + platform::kPathSeparator + "UserSummary.rtf";
    }

    // A user folder; with a summary naming `userName` unless that is empty.
    void User(const std::string& folder, const std::string& userName = "") {
        fs::create_directories(UserFolder(folder));
        if (userName.empty()) return;
        std::string text = kSummary;
        text.replace(text.find("%s"), 2, userName);
        WriteText(SummaryOf(folder), text);
    }

    void ArmOn(const std::string& nameEnd, CallKind kind, Fault fault = {}, int skip = 0, uint32_t repeat = 1,
               bool clearOnDelete = false) {
        g_arm = ArmOnOpen{nameEnd, kind, fault, false, skip, repeat, clearOnDelete};
        ASSERT_EQ(files.SetFileActivityHooks(&kArmingHooks), 0);
    }

    int Run() {
        const int code = RunBatch(Repository(), streams);
        files.SetFileActivityHooks(nullptr);
        platform::ClearFaults();
        return code;
    }

    std::string Summary() const { return streams.err.empty() ? "<none>" : streams.err.back(); }
    bool ErrHas(const std::string& part) const { return streams.ErrText().find(part) != std::string::npos; }
    std::string Contents(const std::string& path) const {
        const auto bytes = ReadBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(repository.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir repository;
    FileService files;
    StringStreams streams;
};

TEST_F(BatchRun, CompleteRunSaysWhereTheOldDatabaseWentAndExitsZero) {
    WriteText(Database(), "the old database");
    User("00000002", "alice");
    User("00000003", "bob");
    EXPECT_EQ(Run(), kExitComplete) << streams.ErrText();
    ASSERT_EQ(streams.out.size(), 3u);
    EXPECT_EQ(streams.out.back(), "Server UserConfig Data Restored: Database Restoration Complete");
    EXPECT_EQ(Summary(), "pellucor: summary: 2 users imported, 0 entries without an account; old database set aside as \"" +
                             Database() + ".old\"");
    EXPECT_TRUE(ErrHas("every rebuilt account has the built-in default password")) << streams.ErrText();
    EXPECT_EQ(Contents(Database() + ".old"), "the old database");
    EXPECT_EQ(Names(), (std::vector<std::string>{"UserConfig.hdb", "UserConfig.hdb.old", "users"}))
        << "no lock file or mirror is left behind";
}

TEST_F(BatchRun, EntriesWithoutAnAccountAreNamedCountedAndExitThree) {
    User("00000002", "alice");
    User("00000003");  // no summary
    fs::create_directories(UserFolder("00000004"));
    WriteText(SummaryOf("00000004"), "{\\rtf1 no name here}");
    WriteText(UserFolder("notes.txt"), "a file among the user folders");
    EXPECT_EQ(Run(), kExitIncomplete) << streams.ErrText();
    EXPECT_TRUE(ErrHas("pellucor: no account for \"00000003\": its UserSummary.rtf cannot be opened\n"));
    EXPECT_TRUE(ErrHas("pellucor: no account for \"00000004\": its UserSummary.rtf has no \"User Name:\" line\n"));
    EXPECT_TRUE(ErrHas("pellucor: no account for \"notes.txt\": its UserSummary.rtf cannot be opened\n"));
    EXPECT_EQ(Summary(), "pellucor: summary: 1 user imported, 3 entries without an account; there was no old database");
}

TEST_F(BatchRun, SummaryThatCannotBeReadIsALoss) {
    User("00000002", "alice");
    ArmOn("UserSummary.rtf", CallKind::Read, Fault{platform::kErrorGenFailure});
    EXPECT_EQ(Run(), kExitIncomplete) << streams.ErrText();
    EXPECT_EQ(streams.out.at(1), "ERROR - Cannot read summary file \"" + SummaryOf("00000002") + "\" repair is incomplete.");
    EXPECT_TRUE(ErrHas("pellucor: no account for \"00000002\": its UserSummary.rtf could not be read\n"));
    EXPECT_EQ(Summary(), "pellucor: summary: 0 users imported, 1 entry without an account; there was no old database");
}

TEST_F(BatchRun, UsersFolderThatGaveNoUsers) {
    struct Case {
        const char* what;
        int kind;  // 0 missing, 1 a file, 2 empty
        int exitCode;
        std::string line;
    };
    for (const Case& c : {Case{"missing", 0, kExitIncomplete, "\" does not exist; no users were imported"},
                          Case{"a file", 1, kExitIncomplete, "\" is a file, not a folder; no users were imported"},
                          Case{"empty", 2, kExitComplete, ""}}) {
        fs::remove_all(Users());
        fs::remove(Database());
        if (c.kind == 1) WriteText(Users(), "not a folder");
        if (c.kind == 2) fs::create_directory(Users());
        streams = StringStreams{};
        EXPECT_EQ(Run(), c.exitCode) << c.what << "\n" << streams.ErrText();
        const bool said = ErrHas(c.line.empty() ? "users folder" : "pellucor: the users folder \"" + Users() + c.line);
        EXPECT_EQ(said, !c.line.empty()) << c.what << "\n" << streams.ErrText();
        EXPECT_EQ(Summary(), "pellucor: summary: 0 users imported, 0 entries without an account; there was no old database")
            << c.what;
    }
}

TEST_F(BatchRun, ListingCutShortIsALoss) {
    for (const char* folder : {"00000002", "00000003", "00000004"}) User(folder, folder);
    ArmOn("UserSummary.rtf", CallKind::Find, Fault{platform::kErrorAccessDenied});
    EXPECT_EQ(Run(), kExitIncomplete) << streams.ErrText();
    EXPECT_TRUE(ErrHas("pellucor: the listing of the users folder \"" + Users() +
                       "\" failed part-way: access denied (system error 5); the entries after the 1 listed were not imported"))
        << streams.ErrText();
    EXPECT_EQ(Summary(), "pellucor: summary: 1 user imported, 0 entries without an account; there was no old database");
}

TEST_F(BatchRun, OldDatabaseThatCannotBeSetAsideIsLeftAndExitsOne) {
    WriteText(Database(), "in use");
    User("00000002", "alice");
    const int32_t holder = files.FileOpen(Database().c_str(), OpenRead);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(Run(), kExitFailed);
    files.FileClose(holder);
    EXPECT_EQ(streams.out, std::vector<std::string>{kSetAsideFailedLine});
    EXPECT_TRUE(ErrHas("pellucor: cannot move the old database \"" + Database() + "\" to \"" + Database() +
                       ".old\": the file is in use by another process (system error 32); stop the server"))
        << streams.ErrText();
    EXPECT_EQ(Summary(), "pellucor: summary: rebuild failed, 0 users imported, 0 entries without an account; "
                         "old database left as it was at \"" + Database() + "\"");
    EXPECT_EQ(Contents(Database()), "in use");
    EXPECT_EQ(Names(), (std::vector<std::string>{"UserConfig.hdb", "users"}));

    // A check that cannot be made stops the run as well, and says which and why.
    streams = StringStreams{};
    platform::InjectFault(CallKind::Find, 1, Fault{platform::kErrorAccessDenied});
    EXPECT_EQ(Run(), kExitFailed);
    EXPECT_TRUE(ErrHas("pellucor: cannot tell whether there is an old database \"" + Database() +
                       "\": access denied (system error 5); nothing was changed"))
        << streams.ErrText();
    EXPECT_EQ(Summary(), "pellucor: summary: rebuild failed, 0 users imported, 0 entries without an account; "
                         "any old database left as it was");
    EXPECT_EQ(Contents(Database()), "in use");
}

// A path given in quotation marks keeps them, and names nothing: there is no old database to set
// aside, so the run fails where it creates the new one and the console says why.
TEST_F(BatchRun, AQuotedPathFailsAtTheCreationAndSaysWhy) {
    const std::string quoted = "\"" + repository.path().string() + "\"";
    ASSERT_EQ(RunBatch(quoted, streams), kExitFailed);
    EXPECT_EQ(streams.out, std::vector<std::string>{kOpenFailedLine});
    EXPECT_TRUE(ErrHas("pellucor: cannot create the new database")) << streams.ErrText();
    EXPECT_TRUE(ErrHas("the path holds quotation marks")) << streams.ErrText();
}

TEST_F(BatchRun, DatabaseThatCannotBeCreatedSaysWhyAndExitsOne) {
    const std::string missing = repository / "no-such-folder";
    ASSERT_EQ(RunBatch(missing, streams), kExitFailed);
    EXPECT_EQ(streams.out, std::vector<std::string>{kOpenFailedLine});
    EXPECT_TRUE(ErrHas("pellucor: cannot create the new database \"" + missing + platform::kPathSeparator +
                       "UserConfig.hdb\": a folder on the path does not exist (system error 3); the repository folder \"" +
                       missing + "\" does not exist"))
        << streams.ErrText();

    streams = StringStreams{};
    const std::string file = repository / "a-file";
    WriteText(file, "x");
    ASSERT_EQ(RunBatch(file, streams), kExitFailed);
    EXPECT_TRUE(ErrHas("; the repository \"" + file + "\" is a file, not a folder")) << streams.ErrText();

    // Set aside, then refused: the old database's new name is given, to undo by hand. The
    // opens are the lock's, the template's and the worker's.
    streams = StringStreams{};
    WriteText(Database(), "the old database");
    platform::InjectFault(CallKind::Open, 2, Fault{platform::kErrorAccessDenied}, 2);
    EXPECT_EQ(Run(), kExitFailed);
    EXPECT_TRUE(ErrHas("pellucor: cannot create the new database \"" + Database() + "\": access denied (system error 5)\n"))
        << streams.ErrText();
    EXPECT_TRUE(ErrHas("pellucor: no new database was written; the old one is now \"" + Database() +
                       ".old\": rename it back to \"" + Database() + "\" to undo"))
        << streams.ErrText();
    EXPECT_EQ(Contents(Database() + ".old"), "the old database");
}

// The run completes with an empty database when the template cannot be written; the console
// reads the database back and calls that a failure. Every allocation fails from the template's
// open until it deletes its file.
TEST_F(BatchRun, EmptyDatabaseIsAFailure) {
    User("00000002", "alice");
    ArmOn("UserConfig.hdb", CallKind::Allocate, Fault{platform::kErrorNotEnoughMemory}, 0, 100000, true);
    EXPECT_EQ(Run(), kExitFailed) << streams.ErrText();
    EXPECT_EQ(streams.out.back(), "Server UserConfig Data Restored: Database Restoration Complete");
    EXPECT_TRUE(ErrHas("pellucor: the new database \"" + Database() + "\" holds no server configuration"))
        << streams.ErrText();
    EXPECT_TRUE(ErrHas("pellucor: no account for \"00000002\": its account could not be written")) << streams.ErrText();
    EXPECT_EQ(Summary(), "pellucor: summary: rebuild failed, 0 users imported, 1 entry without an account; "
                         "there was no old database");
}

TEST_F(BatchRun, HeaderNotWrittenBackAtCloseIsAFailure) {
    User("00000002", "alice");
    platform::ResetCallCounts();
    ASSERT_EQ(Run(), kExitComplete) << streams.ErrText();
    const uint64_t writes = platform::CallCount(CallKind::Write);
    // After the run the console writes a default configuration to compare with; its writes
    // are those of a template alone.
    {
        hdb::DatabaseManager databases;
        const std::string scratch = repository / "template-only.hdb";
        platform::ResetCallCounts();
        ASSERT_EQ(WriteServerTemplate(databases, files, scratch.c_str()), 0);
        fs::remove(scratch);
    }
    const uint64_t runWrites = writes - platform::CallCount(CallKind::Write);
    fs::remove(Database());
    streams = StringStreams{};
    platform::InjectFault(CallKind::Write, static_cast<uint32_t>(runWrites));  // the header, at the close
    EXPECT_EQ(Run(), kExitFailed) << streams.ErrText();
    EXPECT_TRUE(ErrHas("pellucor: the new database \"" + Database() + "\" could not be written to the disk")) << streams.ErrText();
}

// The read-back of a whole database fails once: the second reading finds it whole.
TEST_F(BatchRun, ReadBackThatFailsOnceIsReadAgain) {
    User("00000002", "alice");
    // After the template's open and the worker's two: its look at the header, then its open.
    ArmOn("UserConfig.hdb", CallKind::Read, Fault{}, 3);
    EXPECT_EQ(Run(), kExitComplete) << streams.ErrText();
    EXPECT_TRUE(g_arm.armed) << "the read-back's open was reached";
    EXPECT_EQ(Summary(), "pellucor: summary: 1 user imported, 0 entries without an account; there was no old database");
}

TEST_F(BatchRun, BusyRepositoryIsLeftUntouched) {
    WriteText(Database(), "the old database");
    User("00000002", "alice");
    const std::string lockPath = Database() + ".lock";
    const platform::FileHandle other = platform::AcquireLockFile(lockPath.c_str());
    ASSERT_NE(other, 0);
    EXPECT_EQ(Run(), kExitFailed);
    platform::ReleaseLockFile(other, lockPath.c_str());
    EXPECT_TRUE(streams.out.empty());
    EXPECT_EQ(streams.err, std::vector<std::string>{"pellucor: the repository \"" + Repository() +
                                                    "\" is busy: another rebuild of it is running (it holds \"" +
                                                    lockPath + "\"); nothing was changed"});
    EXPECT_EQ(Contents(Database()), "the old database");
    EXPECT_EQ(Names(), (std::vector<std::string>{"UserConfig.hdb", "users"}));
}

TEST_F(BatchRun, OutputThatCannotBeWrittenIsToldByTheExitCode) {
    User("00000002", "alice");
    streams.failOut = true;
    EXPECT_EQ(Run(), kExitOutputFailed);
    EXPECT_EQ(Summary(), "pellucor: summary: 1 user imported, 0 entries without an account; there was no old database");

    // A losing run says so through the output failure too; a failed run stays a failure.
    User("00000003");
    fs::remove(Database());
    EXPECT_EQ(Run(), kExitOutputFailed);
    streams = StringStreams{};
    streams.failOut = true;
    EXPECT_EQ(RunBatch(repository / "missing", streams), kExitFailed);
}

// Holds the worker at the first summary until the close request has reached the run.
bool g_closeSeenWhileRunning = false;
void WaitForCloseOnOpen(const char* name, uint32_t, int32_t) {
    if (g_closeSeenWhileRunning || std::string(name).find("UserSummary.rtf") == std::string::npos) return;
    for (int i = 0; i < 500 && platform::AtomicLoad(&SharedRun().cancelFlag) == 0; ++i) platform::Sleep(10);
    g_closeSeenWhileRunning = platform::AtomicLoad(&SharedRun().runState) == RunCloseRequested;
}
const FileActivityHooks kWaitForCloseHooks{WaitForCloseOnOpen, nullptr, nullptr, nullptr, nullptr, nullptr};

// A close request (a signal) during the run: the run is told as the dialog tells it (cancel
// flag 1, run state 3), and still goes on to its end.
TEST_F(BatchRun, CloseRequestLetsTheRunFinish) {
    for (uint32_t i = 0; i < 20; ++i) {
        char folder[support::kIdentifierTextSize];
        support::UIntToHex8(i + 2, folder);
        User(folder, "user");
    }
    g_closeSeenWhileRunning = false;
    ASSERT_EQ(files.SetFileActivityHooks(&kWaitForCloseHooks), 0);
    NoteCloseRequest();
    EXPECT_EQ(Run(), kExitComplete) << streams.ErrText();
    EXPECT_TRUE(g_closeSeenWhileRunning) << "the close request reached the running run";
    EXPECT_EQ(Summary(), "pellucor: summary: 20 users imported, 0 entries without an account; there was no old database");
}

}  // namespace

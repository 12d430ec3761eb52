#include "app/rebuild_run.h"

#include "app/account_carry_over.h"
#include "app/server_template.h"
#include "app/user_import.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/platform.h"
#include "support/number_text.h"

using fileservice::FileService;
using fileservice::kSearchFailed;

namespace app {

namespace {

void SetRunState(int32_t state) { platform::AtomicStore(&SharedRun().runState, state); }

void WorkerThread(void*) {
    RebuildWorker();
    platform::EndThread();
}

// Moves an existing database out of the way. False when it is there and could not be moved, or
// when nobody can tell whether it is there: a failed check must never let the run write over it.
// The report learns where it went, or what failed and why.
bool SetAsideOldDatabase(FileService& files, const std::string& databasePath, RunReport& report) {
    const int32_t exists = files.FileExists(databasePath.c_str());
    if (exists == 0) return true;
    // A name that cannot exist (quotation marks in it, say) holds no old database: the run goes
    // on and fails where it creates the new one, which says why.
    if (exists < 0 && platform::LastError() == platform::kErrorInvalidName) return true;
    if (exists > 0) {
        std::string target;
        if (SetAsideName(files, databasePath, target)) {
            if (files.FileRename(target.c_str(), databasePath.c_str()) == 1) {
                report.setAsideName = target;
                return true;
            }
            report.failedError = platform::LastError();
            report.failedName = databasePath;
            report.setAsideTarget = target;
            return false;
        }
        report.failedError = platform::LastError();
        report.failedName = target;
        return false;
    }
    report.failedError = platform::LastError();
    report.failedName = databasePath;
    return false;
}

// Imports every entry of the users folder, files as well as folders, in the order the search
// gives them; an entry's failure does not stop the walk. Names and paths are held whole, so an
// entry of any length reaches the import intact. A listing that fails part-way says so.
void ImportUsers(FileService& files, int32_t database, const std::string& repositoryPath, RunReport& report) {
    const std::string usersFolder = JoinPath(repositoryPath, "users");
    const int32_t slot = files.SearchOpen(JoinPath(usersFolder, "*.*").c_str());
    if (slot < 0) {
        report.usersWalk = UsersWalk::NotListed;
        report.usersError = platform::LastError();
        return;
    }
    int32_t next = 0;
    do {
        const std::string entryName = files.SearchName(slot);
        const uint32_t userId = support::HexToUInt(entryName.c_str());
        const std::string summaryPath = JoinPath(JoinPath(usersFolder, entryName), "UserSummary.rtf");
        UsersEntry entry{entryName, ImportResult::AccountNotWritten, {}};
        entry.result = ImportUserAccount(database, entryName.c_str(), userId, summaryPath.c_str(), &entry.userName);
        report.entries.push_back(std::move(entry));
    } while ((next = files.SearchNext(slot)) == 0);
    if (next == kSearchFailed) {
        report.usersWalk = UsersWalk::CutShort;
        report.usersError = platform::LastError();
        AddStatusLine(UsersFolderCutShortLine(usersFolder).c_str());
    } else {
        report.usersWalk = UsersWalk::Listed;
    }
    files.SearchClose(slot);
}

}  // namespace

RebuildRun& SharedRun() {
    static RebuildRun run;
    return run;
}

std::string UsersFolderCutShortLine(const std::string& usersFolder) {
    return "ERROR - Cannot read the users folder \"" + usersFolder + "\" repair is incomplete.";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + platform::kPathSeparator + name;
}

bool SetAsideName(FileService& files, const std::string& databasePath, std::string& name) {
    name = databasePath + ".old";
    int32_t exists = files.FileExists(name.c_str());
    if (exists <= 0) return exists == 0;
    for (int i = 0; i <= 999; ++i) {
        name = databasePath + ".old" + std::to_string(i);
        exists = files.FileExists(name.c_str());
        if (exists <= 0) return exists == 0;
    }
    return true;
}

int32_t AddStatusLine(const char* text) {
    RebuildRun& run = SharedRun();
    if (run.host) run.host->AddStatusLine(text);
    return platform::AtomicLoad(&run.cancelFlag);
}

bool StartRebuild() {
    RebuildRun& run = SharedRun();
    platform::AtomicStore(&run.cancelFlag, 0);
    SetRunState(RunStarting);
    if (!platform::StartThread(WorkerThread, nullptr)) {
        SetRunState(RunIdle);
        return false;
    }
    return true;
}

void RebuildWorker() {
    RebuildRun& run = SharedRun();
    FileService& files = *run.fileService;
    hdb::DatabaseManager& databases = *run.databaseManager;
    RunReport& report = run.report;
    report = RunReport{};
    SetRunState(RunRunning);

    // No repository: the paths would name the current folder.
    if (run.repositoryPath.empty()) {
        report.failedError = platform::kErrorPathNotFound;
        report.failedName = run.databasePath;
        report.end = RunEnd::CreateFailed;
        AddStatusLine(kOpenFailedLine);
        SetRunState(RunIdle);
        return;
    }

    // A database that could not be moved stays exactly as it is: the template writer would
    // work on it, and delete it if it failed.
    const bool setAside = SetAsideOldDatabase(files, run.databasePath, report);
    run.setAsidePath = report.setAsideName;
    if (!setAside) {
        report.end = RunEnd::SetAsideFailed;
        AddStatusLine(kSetAsideFailedLine);
        SetRunState(RunIdle);
        return;
    }

    report.templateResult = WriteServerTemplate(databases, files, run.databasePath.c_str());

    const int32_t handle = databases.OpenDatabase(run.databasePath.c_str(), hdb::ModeReadWrite);
    if (handle < 0) {
        report.failedError = platform::LastError();
        report.failedName = run.databasePath;
        report.end = RunEnd::CreateFailed;
        AddStatusLine(kOpenFailedLine);
        SetRunState(RunIdle);
        return;
    }
    ImportUsers(files, handle, run.repositoryPath, report);
    if (!run.keepFromPath.empty())
        CarryOverFromOld(databases, handle, CarryOverSource(run.keepFromPath, run.databasePath, run.setAsidePath).c_str());
    // A close that could not put everything on the disk leaves a file that says it is open for
    // writing: no success may be shown for it.
    if (databases.CloseDatabase(handle) != 0) {
        report.failedError = platform::LastError();
        report.failedName = run.databasePath;
        report.end = RunEnd::WriteFailed;
        AddStatusLine(kWriteFailedLine);
        SetRunState(RunIdle);
        return;
    }

    if (run.host) run.host->ShowMessage(kCompletionText, kCompletionCaption);
    report.end = RunEnd::Completed;
    SetRunState(RunIdle);
}

}  // namespace app

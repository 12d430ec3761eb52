// The rebuild run: one worker thread sets the old UserConfig.hdb aside, writes a fresh database
// and adds one client account per entry of the repository's users folder. It talks back to the
// host (the dialog, or the console) through status lines and one final message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/user_import.h"

namespace hdb {
class DatabaseManager;
}  // namespace hdb
namespace fileservice {
class FileService;
}  // namespace fileservice

namespace app {

// What the dialog host does for the worker. Both calls complete only when the host has handled
// them.
class RunHost {
public:
    virtual ~RunHost() = default;
    virtual void AddStatusLine(const char* text) = 0;
    virtual void ShowMessage(const char* text, const char* caption) = 0;
};

enum RunState : int32_t {
    RunIdle = 0,
    RunRunning = 1,
    RunStarting = 2,
    RunCloseRequested = 3,
};

constexpr size_t kMaxPathChars = 259;
constexpr char kDatabaseFileName[] = "UserConfig.hdb";
constexpr char kOpenFailedLine[] = "Error creating database file, repair failed.";
constexpr char kSetAsideFailedLine[] = "Error setting the old database file aside, repair did not run.";
constexpr char kWriteFailedLine[] = "Error writing the database file to disk, repair failed.";
constexpr char kCompletionText[] = "Database Restoration Complete";
constexpr char kCompletionCaption[] = "Server UserConfig Data Restored";

// Where a run ended.
enum class RunEnd : int32_t {
    NotRun,
    SetAsideFailed,  // the old database could not be checked or moved; nothing was changed
    CreateFailed,    // the new database could not be opened or created
    WriteFailed,     // the new database could not be written whole to the disk at its close
    Completed,       // the database was closed and the completion message shown
};

// How far the walk of the users folder got.
enum class UsersWalk : int32_t {
    NotStarted,
    Listed,     // the listing ran to its end
    NotListed,  // the search found nothing; usersError says why (18: only "." and "..")
    CutShort,   // the listing failed part-way; usersError says why
};

struct UsersEntry {
    std::string name;
    ImportResult result;
    std::string userName;  // as read from the summary; empty when none was read
};

// What one run did beyond its status lines, for a host that reports more (the console). The
// worker fills it in; it is whole once the run state is back at 0.
struct RunReport {
    RunEnd end = RunEnd::NotRun;
    std::string setAsideName;  // where the old database went; empty when none was set aside
    // SetAsideFailed: the name that could not be checked or moved, the name it was to be moved
    // to (empty when a check failed) and the system's error. CreateFailed: the database path
    // and the error of the failed open. WriteFailed: the database path and the error of the
    // close.
    std::string failedName;
    std::string setAsideTarget;
    uint32_t failedError = 0;
    int32_t templateResult = 0;
    UsersWalk usersWalk = UsersWalk::NotStarted;
    uint32_t usersError = 0;
    std::vector<UsersEntry> entries;  // in the order visited
};

// State shared by the host and the worker; one per process.
struct RebuildRun {
    std::string repositoryPath;
    std::string databasePath;  // always repositoryPath + separator + UserConfig.hdb
    volatile int32_t runState = RunIdle;
    volatile int32_t cancelFlag = 0;
    RunHost* host = nullptr;
    fileservice::FileService* fileService = nullptr;
    hdb::DatabaseManager* databaseManager = nullptr;
    // When not empty, an old database whose passwords and settings the run carries over once
    // the users are imported (account_carry_over.h); empty, the run is the plain rebuild.
    std::string keepFromPath;
    std::string setAsidePath;  // where this run moved the old database; empty when it moved none
    // FindRepository refused the path the user gave: no repository is set, and the dialog tells.
    bool pathRefused = false;
    RunReport report;
};

RebuildRun& SharedRun();

// Sets the repository path and the database path with it. False (nothing changed) when either
// would exceed 259 characters (RepositoryPathProblem in repository_location.h says why).
bool SetRepositoryPath(const std::string& repositoryPath);

// The thread entry of the run.
void RebuildWorker();
// Appends a status line through the host and returns the cancel flag.
int32_t AddStatusLine(const char* text);

// Starts the worker as Start does: cancel flag 0, run state 2, then the thread. False when the
// thread cannot be started (the run state is back at 0).
bool StartRebuild();

// The first free set-aside name for `databasePath`: ".old", else ".old0" to ".old999"; when all
// are taken, the one ending in ".old999". False when a name could not be checked (`name` is
// then the name that could not be checked).
bool SetAsideName(fileservice::FileService& files, const std::string& databasePath, std::string& name);

// The status line of a listing of the users folder that failed part-way.
std::string UsersFolderCutShortLine(const std::string& usersFolder);

// Joins path elements with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace app

// The rebuild run: one worker thread sets the old UserConfig.hdb aside, writes a fresh database
// and adds one client account per entry of the repository's users folder. It talks back to the
// host (the dialog, or the console) through status lines and one final message.
#pragma once

#include <cstdint>
#include <string>

class DatabaseManager;
class FileService;

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
constexpr char kCompletionText[] = "Database Restoration Complete";
constexpr char kCompletionCaption[] = "Server UserConfig Data Restored";

// State shared by the host and the worker; one per process.
struct RebuildRun {
    std::string repositoryPath;
    std::string databasePath;  // always repositoryPath + separator + UserConfig.hdb
    volatile int32_t runState = RunIdle;
    volatile int32_t cancelFlag = 0;
    RunHost* host = nullptr;
    FileService* fileService = nullptr;
    DatabaseManager* databaseManager = nullptr;
    // When not empty, an old database whose passwords and settings the run carries over once
    // the users are imported (account_carry_over.h); empty, the run is the plain rebuild.
    std::string keepFromPath;
    std::string setAsidePath;  // where this run moved the old database; empty when it moved none
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
bool SetAsideName(FileService& files, const std::string& databasePath, std::string& name);

// Joins path elements with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

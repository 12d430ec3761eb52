// After a run the console reads the new database back and judges the run by what is really
// there, not by what the run meant to write: the exit code and the lines on standard error,
// ending with the summary (users imported, entries without an account, where the old database
// went).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class DatabaseManager;
class FileService;
struct RebuildRun;

// What the new database holds, read read-only.
struct NewDatabaseContents {
    bool readable = false;          // it opens as a database
    bool closedCleanly = false;     // its header says no writer has it open
    bool hasConfiguration = false;  // the server's configuration and the client list are there
    std::set<std::string> accounts;  // Client List entries with Name, Password and NeedToSynchronizeClient
};

NewDatabaseContents ReadNewDatabase(DatabaseManager& databases, const std::string& databasePath);

struct RunVerdict {
    int exitCode = 0;
    std::vector<std::string> lines;  // for standard error, the summary last
    int32_t usersImported = 0;
    int32_t entriesWithoutAccount = 0;
};

// Entries without an account are each named, up to this many; the rest are counted.
constexpr size_t kLossLinesShown = 20;

// `contents` matters only for a run that completed.
RunVerdict JudgeRun(const RebuildRun& run, const NewDatabaseContents& contents, FileService& files);

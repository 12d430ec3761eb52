// After a run the console reads the new database back and judges the run by what is really
// there, not by what the run meant to write: the exit code and the lines on standard error,
// ending with the summary (users imported, entries without an account, where the old database
// went).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hdb {
class DatabaseManager;
}  // namespace hdb
namespace fileservice {
class FileService;
}  // namespace fileservice

namespace app {

struct RebuildRun;

// One key under Client List as the database holds it.
struct StoredAccount {
    bool complete = false;         // Name, Password and NeedToSynchronizeClient are there
    std::string name;              // the value of Name
    bool defaultPassword = false;  // Password holds the scrambled default password
    bool synchronised = false;     // NeedToSynchronizeClient holds "0"
    int32_t copies = 0;            // keys of this name under Client List
};

// What the new database holds, read read-only.
struct NewDatabaseContents {
    bool readable = false;          // it opens as a database
    bool closedCleanly = false;     // its header says no writer has it open
    bool hasConfiguration = false;  // Config and Client List are there
    std::map<std::string, StoredAccount> accounts;
    bool hasNextUserId = false;
    uint32_t nextUserId = 0;
    // The server's configuration (everything but the client list and Next User ID) against the
    // default one this machine writes: what is missing, different or extra. Left empty when no
    // default could be written to compare with (configurationChecked false).
    bool configurationChecked = false;
    std::vector<std::string> configurationFaults;
};

// Reads the database at `databasePath`. The default configuration is written to a scratch
// database in the system's temporary folder and removed again. `carriedOver`: settings under
// Config were taken from an old database (--keep-from), so only their presence is compared.
NewDatabaseContents ReadNewDatabase(hdb::DatabaseManager& databases, fileservice::FileService& files,
                                    const std::string& databasePath, bool carriedOver = false);

struct RunVerdict {
    int exitCode = 0;
    std::vector<std::string> lines;  // for standard error, the summary last
    int32_t usersImported = 0;
    int32_t entriesWithoutAccount = 0;
    // Some fault was seen in the database read back (not only in what the run reported). A
    // read-back can fail on its own, so such a verdict is worth one more reading.
    bool faultsInDatabase = false;
};

// Entries without an account, and faults of the configuration, are each named up to this many;
// the rest are counted.
constexpr size_t kLossLinesShown = 20;

// `contents` matters only for a run that completed. With run.keepFromPath set, passwords and
// synchronisation flags came from the old database and are not compared with the defaults;
// `carryOverFailed` says the carrying over reported a failure.
RunVerdict JudgeRun(const RebuildRun& run, const NewDatabaseContents& contents, fileservice::FileService& files,
                    bool carryOverFailed = false);

}  // namespace app

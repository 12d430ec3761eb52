// The import of one entry of the repository's users folder into the new database: the user's
// name from UserSummary.rtf becomes a client account under Client List.
#pragma once

#include <cstdint>
#include <string>

namespace hdb {
class DatabaseManager;
}  // namespace hdb

namespace app {

constexpr char kDefaultClientPassword[] = "tamarind";
constexpr int32_t kCounterTextSize = 20;  // bytes read of a counter value

// How the import of one entry ended.
enum class ImportResult : int32_t {
    AccountAdded,
    SummaryNotOpened,   // the summary file cannot be opened (status line)
    SummaryNotRead,     // reading the summary file failed (status line)
    NoUserNameLine,     // the summary has no "User Name:" line
    AccountNotWritten,  // Config, Client List or a key of the account could not be had
};

// Adds the client account of the user in `folderName`; the status lines come from here. Works
// through the run's file service and database manager. Returns 0.
int32_t ImportUser(int32_t database, const char* folderName, uint32_t userId, const char* summaryPath);
// The same, telling how it ended; `userName` (may be null) receives the name read from the
// summary when there was one.
ImportResult ImportUserAccount(int32_t database, const char* folderName, uint32_t userId, const char* summaryPath,
                               std::string* userName = nullptr);

// Adds Client List\<folderName> with Name, Password (scrambled `plainPassword`) and
// NeedToSynchronizeClient, and raises Config\Next User ID above `userId`. 0, or -1 when Config,
// Client List, the account or its Password key is missing or cannot be made; keys opened here
// are closed on every path.
int32_t AddClientAccount(hdb::DatabaseManager& db, int32_t database, const char* folderName, uint32_t userId,
                         const char* userName, const char* plainPassword);

// Makes `name` under `parent` hold exactly the characters of `text`. 0, or -1 when the key can
// neither be found nor created.
int32_t SetStringValue(hdb::DatabaseManager& db, int32_t database, uint32_t parent, const char* name, const char* text);

// Reads at most `size` bytes of the value of `name` under `parent` into `buffer` (size + 1
// bytes) and ends them with a zero. The bytes read, or -1 when the key is missing or unreadable.
int32_t GetStringValue(hdb::DatabaseManager& db, int32_t database, uint32_t parent, const char* name, char* buffer,
                       int32_t size);

}  // namespace app

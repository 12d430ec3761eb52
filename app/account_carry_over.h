// Carrying what the old database knew into the rebuilt one, when the user asks for it: after the
// rebuild, every client account takes its Password and NeedToSynchronizeClient from the account
// of the same name in the old file, and Config keeps the old value of every setting the new
// configuration also has (the ID counters never go down). Each thing carried over or lost is a
// status line. Without the request the rebuild does none of this.
#pragma once

#include <cstdint>
#include <string>

namespace hdb {
class DatabaseManager;
}  // namespace hdb

namespace app {

// The old database to read: `keepFrom`, or the name the run set the old database aside under
// when `keepFrom` names the database the run rebuilt.
std::string CarryOverSource(const std::string& keepFrom, const std::string& databasePath,
                            const std::string& setAsidePath);

// Carries the old database at `oldPath` into the open, rebuilt database. The status lines go
// through AddStatusLine. 0, or -1 when the old database cannot be opened (its line says so).
int32_t CarryOverFromOld(hdb::DatabaseManager& db, int32_t database, const char* oldPath);

// Whether a status line is the one of a carry-over that could not be done.
bool IsCarryOverFailure(const char* line);

}  // namespace app

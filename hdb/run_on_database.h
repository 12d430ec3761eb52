// The pattern of every key and value entry point of DatabaseManager: look the handle up, refuse
// changes to a read-only database, and run the work under the database's lock.
#pragma once

#include <cstdint>

#include "hdb/database_record.h"
#include "hdb/database_table.h"

namespace hdb {

template <typename Result, typename Work>
Result RunOnDatabase(int32_t handle, bool changes, Result failure, Work&& work) {
    DatabaseRecord* db = LookupDatabase(handle);
    if (!db) return failure;
    if (changes && db->mode == ModeReadOnly) return failure;
    // After a failed transfer nothing may build on what did not reach the file, nor after a
    // lookup whose answer may be false.
    if (changes && (db->transferFailed || db->lookupFailed)) return failure;
    LockDatabase(*db);
    db->memoryFailed = 0;
    // A record whose file was lost in a failed mode change serves nothing.
    const Result result = db->file < 0 ? failure : work(*db);
    // A change that lacked memory fails and says so; a lookup would answer as if nothing were
    // there.
    if (!changes && db->memoryFailed && db->mode != ModeReadOnly) db->lookupFailed = 1;
    UnlockDatabase(*db);
    return result;
}

}  // namespace hdb

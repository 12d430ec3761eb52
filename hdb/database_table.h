// The process-wide table of open databases: 512 slots, a handle is a slot's number. The table
// owns the records in it. Its lock (kDatabaseTableLock, an exclusive lock of the file service's
// kind) is taken before any database's own lock, never after; every function here that changes
// the table or searches it by path expects the caller to hold it.
#pragma once

#include <cstdint>

namespace hdb {

struct DatabaseRecord;

constexpr int32_t kDatabaseTableSize = 512;

// The open database of a handle, or null when the handle names none.
DatabaseRecord* LookupDatabase(int32_t handle);

// Number of open databases.
int32_t OpenDatabaseCount();

// Makes the table when no database is open yet. False when there is no memory for it.
bool EnsureDatabaseTable();
// The slot of the open database of `path` (compared without regard to case), or -1.
int32_t FindOpenDatabase(const char* path);
// Whether this process has a database of `path` open.
bool IsDatabaseOpen(const char* path);
// A new zeroed record in the first free slot: its slot, or -1 when the table is full or there is
// no memory (the table goes again if it holds nothing).
int32_t AddDatabaseRecord();
// Frees the record of `slot` with everything it owns; the table goes with its last record.
void RemoveDatabaseRecord(int32_t slot);

}  // namespace hdb

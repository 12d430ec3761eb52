// The database manager: the entry to every database operation. It has no data of its own; the
// table of open databases is process-wide, so any manager serves every handle.
#pragma once

#include <cstdint>

#include "hdb/database_record.h"

constexpr int32_t kDatabaseTableSize = 512;

class DatabaseManager {
public:
    DatabaseManager();
    virtual ~DatabaseManager();
    DatabaseManager(const DatabaseManager&) = delete;
    DatabaseManager& operator=(const DatabaseManager&) = delete;

    // A handle 0..511, or -1. All opens of one path (compared case-free) share one handle.
    int32_t OpenDatabase(const char* path, int32_t mode);
    // 0, or -1 when the handle names no open database.
    int32_t CloseDatabase(int32_t handle);

    int32_t GetAppValue(int32_t handle);
    int32_t SetAppValue(int32_t handle, int32_t value);
    int32_t GetKeyCount(int32_t handle);
};

// Drops the cached sub-key list of a database (key creation, deletion and close do this).
void DiscardSubKeyCache(DatabaseRecord& db);

// For tests: number of open databases.
int32_t OpenDatabaseCount();

#include "hdb/database_table.h"

#include <cstring>

#include "hdb/block_cache.h"
#include "hdb/database_record.h"
#include "hdb/node_cache.h"
#include "platform/platform.h"
#include "support/ascii_case.h"

namespace hdb {

namespace {

DatabaseRecord** g_table = nullptr;  // kDatabaseTableSize slots while any database is open
int32_t g_openDatabases = 0;

// The table vanishes with its last database, also after a failed first open.
void DropTableIfEmpty() {
    if (g_table && g_openDatabases <= 0) {
        g_openDatabases = 0;
        platform::Free(g_table);
        g_table = nullptr;
    }
}

}  // namespace

DatabaseRecord* LookupDatabase(int32_t handle) {
    if (handle < 0 || handle >= kDatabaseTableSize || !g_table) return nullptr;
    return g_table[handle];
}

int32_t OpenDatabaseCount() { return g_openDatabases; }

bool EnsureDatabaseTable() {
    if (g_table) return true;
    g_table = static_cast<DatabaseRecord**>(platform::Allocate(sizeof(DatabaseRecord*) * kDatabaseTableSize));
    if (!g_table) return false;
    std::memset(g_table, 0, sizeof(DatabaseRecord*) * kDatabaseTableSize);
    return true;
}

int32_t FindOpenDatabase(const char* path) {
    if (!g_table || g_openDatabases <= 0) return -1;
    for (int32_t slot = 0; slot < kDatabaseTableSize; ++slot)
        if (g_table[slot] && support::SameAsciiNoCase(g_table[slot]->path, path)) return slot;
    return -1;
}

bool IsDatabaseOpen(const char* path) { return FindOpenDatabase(path) >= 0; }

int32_t AddDatabaseRecord() {
    int32_t slot = 0;
    while (slot < kDatabaseTableSize && g_table[slot]) ++slot;
    if (slot == kDatabaseTableSize) return -1;
    auto* db = static_cast<DatabaseRecord*>(platform::Allocate(sizeof(DatabaseRecord)));
    if (!db) {
        DropTableIfEmpty();
        return -1;
    }
    std::memset(db, 0, sizeof *db);
    g_table[slot] = db;
    g_openDatabases += 1;
    return slot;
}

void RemoveDatabaseRecord(int32_t slot) {
    DatabaseRecord* db = g_table[slot];
    BlockCacheDestroy(db->cache);
    NodeCacheDestroy(*db);
    platform::Free(db);
    g_table[slot] = nullptr;
    g_openDatabases -= 1;
    DropTableIfEmpty();
}

}  // namespace hdb

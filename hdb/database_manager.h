// The database manager: the entry to every database operation. It has no data of its own; the
// table of open databases is process-wide, so any manager serves every handle.
#pragma once

#include <cstdint>

#include "hdb/database_mode.h"
#include "hdb/report_message.h"

namespace hdb {

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

    // Puts the mirror in the place of a database that a writer left open (its header still says
    // openForWrite). 0 when the database was closed cleanly, is absent, or was replaced by its
    // mirror (or deleted as too short to be one); -1 when it was left open and cannot be put
    // back, or when it is open now, in this process or another (nothing is changed then).
    int32_t RecoverDatabase(const char* path);

    int32_t GetAppValue(int32_t handle);
    int32_t SetAppValue(int32_t handle, int32_t value);
    int32_t GetKeyCount(int32_t handle);

    // Keys. Results that carry a key id are int64 so that every u32 id and -1 stay apart.
    int32_t HdbOpenKey(int32_t handle, uint32_t key);
    void HdbCloseKey(int32_t handle, uint32_t key);
    int64_t HdbCreateKey(int32_t handle, uint32_t parent, const char* name);
    int32_t HdbDeleteKey(int32_t handle, uint32_t key);
    int32_t HdbRenameKey(int32_t handle, uint32_t key, const char* name);
    int32_t HdbGetKeyName(int32_t handle, uint32_t key, char* buffer, uint32_t size);
    int64_t HdbFindKey(int32_t handle, uint32_t parent, const char* name);
    int64_t HdbFindKeyNoCase(int32_t handle, uint32_t parent, const char* name);
    int64_t HdbFirstSubKey(int32_t handle, uint32_t key);
    int64_t HdbNextSubKey(int32_t handle, uint32_t key, uint32_t previous);
    int64_t HdbGetParentKey(int32_t handle, uint32_t key);
    int32_t HdbGetSubKeyCount(int32_t handle, uint32_t key);
    // Any out-parameter may be null.
    int32_t HdbGetKeyInfo(int32_t handle, uint32_t key, uint32_t* parent, uint32_t* attributes,
                          uint16_t* nameOffset, uint16_t* nameLength, uint16_t* subKeyListOffset,
                          uint16_t* subKeyCountLow, uint16_t* valueOffsetLow, uint16_t* highBytes,
                          uint32_t* valueLength);
    int32_t HdbSetKeyAttr1(int32_t handle, uint32_t key, uint32_t value);
    int32_t HdbSetKeyAttr2(int32_t handle, uint32_t key, uint32_t value);
    int32_t HdbGetKeyAttr1(int32_t handle, uint32_t key);
    int32_t HdbGetKeyAttr2(int32_t handle, uint32_t key);  // signed: a stored 0xFFFF reads -1

    // Values: one byte string per key, used like a small file at the key's value position.
    int32_t HdbWriteValue(int32_t handle, uint32_t key, const void* data, uint32_t count);
    int32_t HdbReadValue(int32_t handle, uint32_t key, void* dest, uint32_t count);
    int32_t HdbSeekValue(int32_t handle, uint32_t key, uint32_t offset);
    uint32_t HdbTellValue(int32_t handle, uint32_t key);
    uint32_t HdbGetValueSize(int32_t handle, uint32_t key);
    int32_t HdbClearValue(int32_t handle, uint32_t key);
};

// Whether the file of an open database said it was closed cleanly (its header's openForWrite
// was 0) when it was opened for reading; false for a handle that names no open database.
bool DatabaseClosedCleanly(int32_t handle);

}  // namespace hdb

// The in-memory side of one open database: the record that every handle operation works on.
// The table of open databases owns the records; a record owns its header image, its block
// cache, its node list and node cache, its free-list cursor and its sub-key walk cache, and
// frees them when the table removes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hdb/chain_cursor.h"
#include "hdb/database_mode.h"
#include "hdb/format.h"
#include "support/spin_lock.h"

namespace hdb {

class BlockCache;
class NodeCache;
struct KeyNode;

// The longest path a database can be opened under, with its terminating zero.
constexpr uint32_t kDatabasePathBuffer = 1140;

// The sub-key list cached by HdbNextSubKey, so that each step of a walk costs no I/O. The two
// ids are wider than a key id: every u32 id, 0xFFFFFFFF too, stays apart from -1.
struct SubKeyCache {
    int64_t cachedKey;     // key whose list is copied; -1 for none
    int64_t lastReturned;  // sub-key id returned last; -1 for none
    int32_t entryCount;
    uint8_t* entries;      // entryCount * 8 bytes, or null when nothing is cached
    int32_t index;         // place of the last returned entry
};

struct DatabaseRecord {
    DatabaseHeader header;
    int32_t file;  // -1 once a failed mode change lost the file: nothing may touch it then
    char path[kDatabasePathBuffer];
    int32_t openCount;
    int32_t mode;
    support::SpinLockWord lockWord;
    int64_t filePosition;  // kUnknownFilePosition after a failed transfer
    KeyNode* nodeHead;
    KeyNode* nodeTail;
    ChainCursor freeListCursor;
    int32_t freeListBusy;
    // Entries taken from the front of the free-block list whose removal the list's stream does
    // not show yet: they lie before the freeCount entries still listed (see SettleFreeList).
    uint32_t freeListTaken;
    SubKeyCache subKeyCache;
    BlockCache* cache;  // null: every block transfer goes to the file
    NodeCache* nodeCache;  // what is remembered about keys between loads; null for nothing
    // 1 once a transfer of the file failed while the database was open for writing. From then
    // on nothing more changes it, and the final close leaves the file marked as open by a writer.
    int32_t transferFailed;
    // 1 while the current operation has lacked memory for work its answer depends on.
    int32_t memoryFailed;
    // 1 once a lookup on a database open for writing lacked such memory. Its answer (no such key,
    // no value) may be false, and callers create what they do not find, so from then on nothing
    // more changes the database; the file itself stays whole and closes as usual.
    int32_t lookupFailed;
    // 1 when this open made the file: its name in the folder must reach the disk at the close.
    int32_t createdHere;
};

// filePosition's value when the real position of the file is not known.
constexpr int64_t kUnknownFilePosition = -1;

// Memory for work that an operation's answer depends on; null when there is none, and the
// operation is then marked as having lacked it (memoryFailed).
void* AllocateForAnswer(DatabaseRecord& db, size_t size);

// A database's own lock. Whoever also takes the table lock takes that one first.
void LockDatabase(DatabaseRecord& db);
void UnlockDatabase(DatabaseRecord& db);

}  // namespace hdb

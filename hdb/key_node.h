// Key nodes: a key is one chain whose stream begins with a 28-byte KeyHeader; while a key is in
// use it is held as a KeyNode in its database's node list.
#pragma once

#include <cstdint>

#include "hdb/chain.h"
#include "hdb/database_record.h"

// 28 bytes at stream offset 0 of a key (little-endian).
struct KeyHeader {
    uint32_t parent;
    uint16_t attr1;
    uint16_t attr2;
    uint16_t nameOffset;       // always 28
    uint16_t nameLength;       // without the terminating zero
    uint16_t subKeyListOffset;
    uint16_t subKeyCountLow;   // sub-key count, bits 0-15
    uint16_t valueOffsetLow;   // value offset, bits 0-15
    uint8_t valueOffsetHigh;   // value offset, bits 16-23
    uint8_t subKeyCountHigh;   // sub-key count, bits 16-23
    uint32_t valueLength;
    uint32_t headerMark;  // in memory: the header-dirty flag
};
static_assert(sizeof(KeyHeader) == 28);

constexpr uint32_t kKeyHeaderSize = 28;
constexpr uint32_t kSubKeyEntrySize = 8;  // key id, name hash
constexpr uint32_t kSubKeyListGrowth = 80;  // room for ten entries
constexpr uint32_t kMaxField24 = 0xFFFFFF;  // value offset and sub-key count
constexpr uint32_t kMaxField16 = 0xFFFF;    // sub-key list offset

struct KeyNode {
    KeyHeader header;
    ChainCursor cursor;  // its first block is the key id
    uint32_t valuePosition;
    KeyNode* previous;
    KeyNode* next;
};

// The 24-bit fields, each split over a 16-bit and an 8-bit part; every update sets both.
uint32_t ValueOffset(const KeyHeader& header);
void SetValueOffset(KeyHeader& header, uint32_t offset);
uint32_t SubKeyCount(const KeyHeader& header);
void SetSubKeyCount(KeyHeader& header, uint32_t count);
inline void MarkHeaderDirty(KeyNode& node) { node.header.headerMark = 1; }

uint32_t NameHash(const char* name);

KeyNode* NodeFind(DatabaseRecord& db, uint32_t keyId);
KeyNode* NodeNew(DatabaseRecord& db);
void NodeFree(DatabaseRecord& db, KeyNode* node);
// 0 when the key is open afterwards, -1 otherwise.
int32_t NodeLoad(DatabaseRecord& db, uint32_t keyId);
void NodeRelease(DatabaseRecord& db, uint32_t keyId);

// A key reached by an operation: the open node, or one loaded for the operation and released
// again when the object goes unless the operation keeps it open.
class ReachedKey {
public:
    ReachedKey(DatabaseRecord& db, uint32_t keyId);
    ~ReachedKey();
    ReachedKey(const ReachedKey&) = delete;
    ReachedKey& operator=(const ReachedKey&) = delete;

    explicit operator bool() const { return node_ != nullptr; }
    KeyNode& operator*() const { return *node_; }
    KeyNode* operator->() const { return node_; }
    void KeepOpen() { loadedHere_ = false; }

private:
    DatabaseRecord& db_;
    uint32_t keyId_;
    KeyNode* node_;
    bool loadedHere_;
};

// The pattern of every key and value entry point: look the handle up, refuse changes to a
// read-only database, and run the work under the database's lock.
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

// Key nodes: a key is one chain whose stream begins with a 28-byte KeyHeader; while a key is in
// use it is held as a KeyNode in its database's node list.
#pragma once

#include <cstdint>

#include "hdb/chain_cursor.h"
#include "hdb/format.h"

namespace hdb {

struct DatabaseRecord;

struct KeyNode {
    KeyHeader header;
    ChainCursor cursor;  // its first block is the key id
    uint32_t valuePosition;
    KeyNode* previous;
    KeyNode* next;
};

inline void MarkHeaderDirty(KeyNode& node) { node.header.headerMark = 1; }

KeyNode* NodeFind(DatabaseRecord& db, uint32_t keyId);
KeyNode* NodeNew(DatabaseRecord& db);
void NodeFree(DatabaseRecord& db, KeyNode* node);
// 0 when the key is open afterwards, -1 otherwise.
int32_t NodeLoad(DatabaseRecord& db, uint32_t keyId);
void NodeRelease(DatabaseRecord& db, uint32_t keyId);

// A key reached by an operation: the open node, or one loaded for the operation and released
// again when the object goes.
class ReachedKey {
public:
    ReachedKey(DatabaseRecord& db, uint32_t keyId);
    ~ReachedKey();
    ReachedKey(const ReachedKey&) = delete;
    ReachedKey& operator=(const ReachedKey&) = delete;

    explicit operator bool() const { return node_ != nullptr; }
    KeyNode& operator*() const { return *node_; }
    KeyNode* operator->() const { return node_; }

private:
    DatabaseRecord& db_;
    uint32_t keyId_;
    KeyNode* node_;
    bool loadedHere_;
};

}  // namespace hdb

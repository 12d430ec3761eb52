// Key nodes: a key is one chain whose stream begins with a 28-byte KeyHeader; while a key is in
// use it is held as a KeyNode in its database's node list.
#pragma once

#include <cstdint>

#include "hdb/chain.h"

struct DatabaseRecord;

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

struct KeyNode {
    KeyHeader header;
    ChainCursor cursor;  // its first block is the key id
    uint32_t valuePosition;
    KeyNode* previous;
    KeyNode* next;
};

KeyNode* NodeFind(DatabaseRecord& db, uint32_t keyId);
KeyNode* NodeNew(DatabaseRecord& db);
void NodeFree(DatabaseRecord& db, KeyNode* node);
void NodeRelease(DatabaseRecord& db, uint32_t keyId);

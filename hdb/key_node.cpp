#include "hdb/key_node.h"

#include <cstring>

#include "hdb/block_io.h"
#include "hdb/chain.h"
#include "hdb/database_record.h"
#include "platform/platform.h"

namespace hdb {

namespace {

// The offsets of a header read from a file are trusted only when they describe a key: the name
// lies before the list and the entries in use fit the list's room. A block that is no key's
// head rarely passes; one that does is still read and written only within its stream.
bool HeaderIsOrdered(const KeyHeader& header) {
    if (header.nameOffset != kKeyHeaderSize) return false;
    const uint32_t listOffset = header.subKeyListOffset;
    const uint32_t valueOffset = ValueOffset(header);
    if (kKeyHeaderSize + header.nameLength + 1u > listOffset || listOffset > valueOffset) return false;
    return static_cast<uint64_t>(SubKeyCount(header)) * kSubKeyEntrySize <= valueOffset - listOffset;
}

// Whether the chain from `first` (whose link word 1 is `next`) links the blocks that a stream of
// `length` bytes written from its start holds, each linking back to the one before it.
bool ChainHoldsStream(DatabaseRecord& db, uint32_t first, uint32_t next, uint32_t length) {
    uint32_t current = first;
    for (uint32_t place = 1; place <= length / kChainPayload; ++place) {
        if (next == 0 || next == first) return false;
        uint8_t block[kBlockSize];
        if (BlockRead(db, next, block) != 0 || BlockWord(block, 0) != current) return false;
        current = next;
        next = BlockWord(block, 1);
    }
    return true;
}

// The stream length a key is used with. The server's own engine leaves the head's length word as
// it stood when the stream first left that block unless a header field changed before release
// (keys with names of about 139 bytes and more), so a word shorter than the header needs is
// stale when the stream did leave the head and the chain holds what the header describes; a
// key that has only its head block always had its word written with it. -1: not a key.
int64_t KeyStreamLength(DatabaseRecord& db, const KeyNode& node) {
    if (!HeaderIsOrdered(node.header)) return -1;
    const ChainCursor& cursor = node.cursor;
    const uint32_t needed = ValueOffset(node.header);
    if (needed <= cursor.length) return cursor.length;
    if (cursor.nextBlock == 0 || !ChainHoldsStream(db, cursor.firstBlock, cursor.nextBlock, needed)) return -1;
    return needed;
}

}  // namespace

KeyNode* NodeFind(DatabaseRecord& db, uint32_t keyId) {
    for (KeyNode* node = db.nodeHead; node; node = node->next)
        if (node->cursor.firstBlock == keyId) return node;
    return nullptr;
}

KeyNode* NodeNew(DatabaseRecord& db) {
    auto* node = static_cast<KeyNode*>(AllocateForAnswer(db, sizeof(KeyNode)));
    if (!node) return nullptr;
    std::memset(node, 0, sizeof *node);
    if (!db.nodeHead) {
        db.nodeHead = node;
    } else {
        db.nodeTail->next = node;
        node->previous = db.nodeTail;
    }
    db.nodeTail = node;
    return node;
}

void NodeFree(DatabaseRecord& db, KeyNode* node) {
    if (node->previous) node->previous->next = node->next;
    else db.nodeHead = node->next;
    if (node->next) node->next->previous = node->previous;
    else db.nodeTail = node->previous;
    platform::Free(node);
}

int32_t NodeLoad(DatabaseRecord& db, uint32_t keyId) {
    if (keyId >= db.header.blockCount) return -1;
    if (NodeFind(db, keyId)) return 0;
    // Block 0 and the free list's head hold the free list, never a key.
    if (keyId == 0 || keyId == db.header.freeListBlock) return -1;
    KeyNode* node = NodeNew(db);
    if (!node) return -1;
    uint8_t block[kBlockSize];
    ChainCursor& cursor = node->cursor;
    cursor.firstBlock = cursor.currentBlock = keyId;
    if (BlockRead(db, keyId, block) != 0 || BlockWord(block, 0) == kReleasedBlockMark) {
        NodeFree(db, node);
        return -1;
    }
    cursor.length = cursor.storedLength = BlockWord(block, 0);
    cursor.nextBlock = BlockWord(block, 1);
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    std::memcpy(&node->header, cursor.buffer, sizeof(KeyHeader));
    // A stale length is mended in memory; its release writes it to a writable file.
    const int64_t length = KeyStreamLength(db, *node);
    if (length < 0) {
        NodeFree(db, node);
        return -1;
    }
    cursor.length = static_cast<uint32_t>(length);
    node->header.headerMark = 0;
    cursor.position = kKeyHeaderSize;
    cursor.offset = static_cast<int32_t>(kKeyHeaderSize);
    cursor.fill = static_cast<int32_t>(cursor.length < kChainPayload ? cursor.length : kChainPayload);
    return 0;
}

void NodeRelease(DatabaseRecord& db, uint32_t keyId) {
    KeyNode* node = NodeFind(db, keyId);
    if (!node) return;
    if (db.mode != ModeReadOnly) {
        ChainCursor& cursor = node->cursor;
        if (cursor.dirty) ChainFlush(db, cursor);
        // The head's length word lags whenever the cursor left the head block while the stream
        // grew, also when no header field changed (a long name at creation): store it now.
        const bool headerDirty = node->header.headerMark == 1;
        if (headerDirty || cursor.length != cursor.storedLength) {
            uint8_t block[kBlockSize];
            if (BlockRead(db, keyId, block) == 0) {
                SetBlockWord(block, 0, cursor.length);
                if (headerDirty) std::memcpy(block + 8, &node->header, sizeof(KeyHeader));
                BlockWrite(db, keyId, block);
            }
        }
    }
    NodeFree(db, node);
}

ReachedKey::ReachedKey(DatabaseRecord& db, uint32_t keyId)
    : db_(db), keyId_(keyId), node_(NodeFind(db, keyId)), loadedHere_(false) {
    if (node_) return;
    if (NodeLoad(db, keyId) != 0) return;
    node_ = NodeFind(db, keyId);
    loadedHere_ = node_ != nullptr;
}

ReachedKey::~ReachedKey() {
    if (loadedHere_) NodeRelease(db_, keyId_);
}

}  // namespace hdb

#include "hdb/key_node.h"

#include <cstring>

#include "hdb/block_storage.h"
#include "hdb/database_record.h"
#include "platform/platform.h"

KeyNode* NodeFind(DatabaseRecord& db, uint32_t keyId) {
    for (KeyNode* node = db.nodeHead; node; node = node->next)
        if (node->cursor.firstBlock == keyId) return node;
    return nullptr;
}

KeyNode* NodeNew(DatabaseRecord& db) {
    auto* node = static_cast<KeyNode*>(platform::Allocate(sizeof(KeyNode)));
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

void NodeRelease(DatabaseRecord& db, uint32_t keyId) {
    KeyNode* node = NodeFind(db, keyId);
    if (!node) return;
    const bool writable = db.mode != ModeReadOnly;
    if (node->cursor.dirty && writable) ChainFlush(db, node->cursor);
    if (node->header.headerMark == 1 && writable) {
        uint8_t block[kBlockSize];
        if (BlockRead(db, keyId, block) == 0) {
            SetBlockWord(block, 0, node->cursor.length);
            std::memcpy(block + 8, &node->header, sizeof(KeyHeader));
            BlockWrite(db, keyId, block);
        }
    }
    NodeFree(db, node);
}

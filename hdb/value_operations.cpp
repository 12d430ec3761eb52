// Values: every key's stream ends in its value, from the value offset to the stream's end. It
// is used like a small file through the key's value position, which lives in the open node.
#include <cstring>

#include "hdb/chain.h"
#include "hdb/database_manager.h"
#include "hdb/database_record.h"
#include "hdb/key_node.h"
#include "hdb/run_on_database.h"

namespace hdb {

namespace {

constexpr uint32_t kMaxTransfer = 0x7FFFFFFF;  // results are int32 counts

// The key's node; a key that was not open is loaded and stays open, since its value position
// must outlive the call.
KeyNode* OpenForValue(DatabaseRecord& db, uint32_t keyId) {
    if (NodeLoad(db, keyId) != 0) return nullptr;
    return NodeFind(db, keyId);
}

// Stream offset of a value position, stopping at the stream's end.
uint32_t StreamOffset(const KeyNode& node, uint32_t valuePosition) {
    const uint64_t offset = static_cast<uint64_t>(ValueOffset(node.header)) + valuePosition;
    return offset < node.cursor.length ? static_cast<uint32_t>(offset) : node.cursor.length;
}

// A position set beyond the value's end is honoured by the next write: the gap is filled with
// zero bytes, so the bytes land where the value position and the value length say.
int32_t FillGapTo(DatabaseRecord& db, KeyNode& node, uint64_t target) {
    if (target <= node.cursor.length) return 0;
    if (target > 0xFFFFFFFFu) return -1;
    if (ChainSeek(db, node.cursor, node.cursor.length) != 0) return -1;
    static const uint8_t zeros[4096] = {};
    for (uint64_t left = target - node.cursor.length; left > 0;) {
        const auto chunk = static_cast<uint32_t>(left < sizeof zeros ? left : sizeof zeros);
        if (ChainWrite(db, node.cursor, zeros, chunk) != static_cast<int32_t>(chunk)) return -1;
        left -= chunk;
    }
    return 0;
}

int32_t WriteValue(DatabaseRecord& db, uint32_t keyId, const void* data, uint32_t count) {
    KeyNode* node = OpenForValue(db, keyId);
    if (!node) return -1;
    const uint64_t target = static_cast<uint64_t>(ValueOffset(node->header)) + node->valuePosition;
    if (FillGapTo(db, *node, target) != 0) return -1;
    if (ChainSeek(db, node->cursor, static_cast<uint32_t>(target)) != 0) return -1;
    const int32_t written = ChainWrite(db, node->cursor, data, count);
    if (written < 0) return -1;
    node->valuePosition += static_cast<uint32_t>(written);
    if (node->valuePosition > node->header.valueLength) {
        node->header.valueLength = node->valuePosition;
        MarkHeaderDirty(*node);
    }
    return written;
}

int32_t ReadValue(DatabaseRecord& db, uint32_t keyId, void* dest, uint32_t count) {
    KeyNode* node = OpenForValue(db, keyId);
    if (!node) return -1;
    // A position beyond the value's end reads nothing.
    const uint64_t target = static_cast<uint64_t>(ValueOffset(node->header)) + node->valuePosition;
    if (target > node->cursor.length) return 0;
    if (ChainSeek(db, node->cursor, static_cast<uint32_t>(target)) != 0) return -1;
    const int32_t got = ChainRead(db, node->cursor, dest, count);
    if (got >= 0) node->valuePosition += static_cast<uint32_t>(got);
    return got;
}

int32_t SeekValue(DatabaseRecord& db, uint32_t keyId, uint32_t offset) {
    KeyNode* node = OpenForValue(db, keyId);
    if (!node) return -1;
    const int32_t result = ChainSeek(db, node->cursor, StreamOffset(*node, offset));
    node->valuePosition = offset;
    return result;
}

int32_t ClearValue(DatabaseRecord& db, uint32_t keyId) {
    ReachedKey key(db, keyId);
    if (!key) return -1;
    ChainCursor& cursor = key->cursor;
    if (cursor.dirty) ChainFlush(db, cursor);
    const uint32_t valueOffset = ValueOffset(key->header);
    cursor.length = valueOffset;
    key->header.valueLength = 0;
    key->valuePosition = 0;
    MarkHeaderDirty(*key);
    // The blocks that hold the header, the name and the list stay; the rest go back.
    ChainTruncate(db, cursor, valueOffset / kChainPayload + 1);
    if (ChainLoadBlock(db, cursor, cursor.firstBlock) == 0) {
        cursor.position = 0;
        cursor.offset = 0;
        cursor.fill = static_cast<int32_t>(cursor.length < kChainPayload ? cursor.length : kChainPayload);
    }
    return 0;
}

}  // namespace

int32_t DatabaseManager::HdbWriteValue(int32_t handle, uint32_t key, const void* data, uint32_t count) {
    if ((!data && count > 0) || count > kMaxTransfer) return -1;
    return RunOnDatabase(handle, true, -1, [&](DatabaseRecord& db) { return WriteValue(db, key, data, count); });
}

int32_t DatabaseManager::HdbReadValue(int32_t handle, uint32_t key, void* dest, uint32_t count) {
    if ((!dest && count > 0) || count > kMaxTransfer) return -1;
    return RunOnDatabase(handle, false, -1, [&](DatabaseRecord& db) { return ReadValue(db, key, dest, count); });
}

int32_t DatabaseManager::HdbSeekValue(int32_t handle, uint32_t key, uint32_t offset) {
    return RunOnDatabase(handle, false, -1, [&](DatabaseRecord& db) { return SeekValue(db, key, offset); });
}

uint32_t DatabaseManager::HdbTellValue(int32_t handle, uint32_t key) {
    return RunOnDatabase(handle, false, 0u, [&](DatabaseRecord& db) {
        const KeyNode* node = NodeFind(db, key);
        return node ? node->valuePosition : 0u;
    });
}

uint32_t DatabaseManager::HdbGetValueSize(int32_t handle, uint32_t key) {
    return RunOnDatabase(handle, false, 0u, [&](DatabaseRecord& db) {
        ReachedKey node(db, key);
        if (!node || node->cursor.length < ValueOffset(node->header)) return 0u;
        return node->cursor.length - ValueOffset(node->header);
    });
}

int32_t DatabaseManager::HdbClearValue(int32_t handle, uint32_t key) {
    return RunOnDatabase(handle, true, -1, [&](DatabaseRecord& db) { return ClearValue(db, key); });
}

}  // namespace hdb

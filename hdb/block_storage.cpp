#include "hdb/block_storage.h"

#include <cstring>

#include "fileservice/file_service.h"
#include "hdb/block_cache.h"
#include "hdb/chain.h"
#include "hdb/database_record.h"

namespace {

constexpr uint32_t kClusterBlocks = 16;  // 4 KiB: a miss reads its neighbours with it

int64_t BlockOffset(uint32_t block) { return (static_cast<int64_t>(block) + 1) * kBlockSize; }

// Positions the file at `offset` unless it is known to be there already.
bool PositionAt(DatabaseRecord& db, int64_t offset) {
    if (db.filePosition == offset) return true;
    const auto o = static_cast<uint64_t>(offset);
    if (DatabaseFileService().FileSeek(db.file, static_cast<uint32_t>(o >> 32), static_cast<uint32_t>(o)) != 0)
        return false;
    db.filePosition = offset;
    return true;
}

void MarkTransferFailed(DatabaseRecord& db) {
    if (db.mode != ModeReadOnly) db.transferFailed = 1;
}

// A read that ended early: a block beyond the end of the file.
int32_t ShortRead(DatabaseRecord& db) {
    db.filePosition = kUnknownFilePosition;
    MarkTransferFailed(db);
    return -1;
}

// A block missing from the cache is read with its neighbours: the aligned group of
// kClusterBlocks around it, as far as the database has blocks. Neighbours are kept only where
// the cache has room to spare, and never over a cached copy (which may be newer than the file).
int32_t ReadCluster(DatabaseRecord& db, uint32_t block, uint8_t* out) {
    const uint32_t first = block - block % kClusterBlocks;
    uint32_t end = first + kClusterBlocks;
    if (end > db.header.blockCount) end = db.header.blockCount;
    if (end <= block) end = block + 1;
    bool cached[kClusterBlocks];
    for (uint32_t i = 0; i < end - first; ++i) cached[i] = BlockCacheHolds(*db.cache, first + i);
    uint8_t cluster[kClusterBlocks * kBlockSize];
    uint32_t got = 0;
    if (BlockFileRead(db, first, cluster, end - first, &got) != 0) return -1;
    const uint32_t whole = got / kBlockSize;
    if (whole <= block - first) return ShortRead(db);
    const uint8_t* bytes = cluster + (block - first) * kBlockSize;
    std::memcpy(out, bytes, kBlockSize);
    // A block that cannot be cached is still read; a failed write-back to make room for it is
    // this read's failure.
    if (BlockCacheStore(db, block, bytes, false) < 0) return -1;
    for (uint32_t i = 0; i < whole && BlockCacheHasRoom(*db.cache); ++i)
        if (!cached[i] && first + i != block) BlockCacheStore(db, first + i, cluster + i * kBlockSize, false);
    return 0;
}

}  // namespace

int32_t BlockFileRead(DatabaseRecord& db, uint32_t first, uint8_t* bytes, uint32_t count, uint32_t* got) {
    *got = 0;
    const int64_t offset = BlockOffset(first);
    const uint32_t size = count * kBlockSize;
    const int32_t read = PositionAt(db, offset) ? DatabaseFileService().FileRead(db.file, bytes, size) : -1;
    if (read < 0) {
        // Where the file stands after a failed read is unknown: the next transfer seeks.
        db.filePosition = kUnknownFilePosition;
        MarkTransferFailed(db);
        return -1;
    }
    *got = static_cast<uint32_t>(read);
    db.filePosition = offset + read;
    return 0;
}

int32_t BlockFileWrite(DatabaseRecord& db, uint32_t first, const uint8_t* bytes, uint32_t count) {
    const int64_t offset = BlockOffset(first);
    const uint32_t size = count * kBlockSize;
    if (!PositionAt(db, offset) || DatabaseFileService().FileWrite(db.file, bytes, size) != static_cast<int32_t>(size)) {
        db.filePosition = kUnknownFilePosition;
        MarkTransferFailed(db);
        return -1;
    }
    db.filePosition = offset + size;
    return 0;
}

int32_t BlockRead(DatabaseRecord& db, uint32_t block, void* buffer) {
    if (db.file < 0 || block == kNoBlock) return -1;
    if (db.cache) {
        if (const uint8_t* cached = BlockCacheLookup(*db.cache, block)) {
            std::memcpy(buffer, cached, kBlockSize);
            return 0;
        }
        return ReadCluster(db, block, static_cast<uint8_t*>(buffer));
    }
    uint32_t got = 0;
    if (BlockFileRead(db, block, static_cast<uint8_t*>(buffer), 1, &got) != 0) return -1;
    if (got != kBlockSize) return ShortRead(db);
    return 0;
}

int32_t BlockWrite(DatabaseRecord& db, uint32_t block, const void* buffer) {
    if (db.file < 0 || block == kNoBlock) return -1;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    // Without memory to cache it, the block goes to the file at once.
    const int32_t stored = db.cache ? BlockCacheStore(db, block, bytes, true) : 1;
    if (stored < 0) return -1;
    if (stored == 1 && BlockFileWrite(db, block, bytes, 1) != 0) return -1;
    if (block + 1 > db.header.blockCount) db.header.blockCount = block + 1;
    return 0;
}

int64_t BlockAlloc(DatabaseRecord& db) {
    if (const uint32_t reused = FreeListTake(db); reused != 0) return reused;
    const uint32_t block = db.header.blockCount;
    if (block == kNoBlock) return -1;  // every block number is taken
    db.header.blockCount += 1;
    static const uint8_t zeros[kBlockSize] = {};
    if (BlockWrite(db, block, zeros) != 0) return -1;  // the number stays skipped
    return block;
}

uint32_t FreeListTake(DatabaseRecord& db) {
    if (db.freeListBusy == 1) return 0;  // the list is mid-append; its cursor must not move
    if (db.header.freeCount == 0) return 0;
    // The front entry stands behind the ones taken before it; the cursor is usually there already.
    ChainCursor& list = db.freeListCursor;
    if (ChainSeek(db, list, 4 * db.freeListTaken) != 0) return 0;
    uint8_t entry[4];
    if (ChainRead(db, list, entry, 4) != 4) return 0;
    db.freeListTaken += 1;
    db.header.freeCount -= 1;
    const uint32_t block = BlockWord(entry, 0);
    // A damaged list may name block 0 or a block the file never had; such an entry is dropped.
    if (block == 0 || block >= db.header.blockCount) return 0;
    return block;
}

int32_t SettleFreeList(DatabaseRecord& db) {
    const uint32_t taken = db.freeListTaken;
    if (taken == 0) return 0;
    ChainCursor& list = db.freeListCursor;
    const uint32_t end = list.length;  // 4 * (taken + freeCount)
    const uint32_t listed = 4 * db.header.freeCount;
    uint8_t last[4];
    bool settled = ChainSeek(db, list, end - 4) == 0 && ChainRead(db, list, last, 4) == 4 &&
                   ChainShift(db, list, 4 * taken, -static_cast<int32_t>(4 * taken)) == 0 &&
                   ChainSeek(db, list, listed) == 0;
    // Each rewrite of the list left its old last entry behind the new end.
    uint8_t copies[4096];
    for (uint32_t i = 0; i < sizeof copies; i += 4) std::memcpy(copies + i, last, 4);
    for (uint32_t left = 4 * taken; settled && left > 0;) {
        const uint32_t chunk = left < sizeof copies ? left : static_cast<uint32_t>(sizeof copies);
        settled = ChainWrite(db, list, copies, chunk) == static_cast<int32_t>(chunk);
        left -= chunk;
    }
    db.freeListTaken = 0;
    if (!settled) {
        // Part of the list may have moved, leaving some entry twice in it; handing that block out
        // twice would give one block to two owners. Give the listed blocks up instead: they
        // become unreachable, as a block whose release fails does.
        db.header.freeCount = 0;
        list.length = 0;
        return -1;
    }
    list.length = listed;
    list.fill = list.nextBlock != 0 ? static_cast<int32_t>(kChainPayload) : static_cast<int32_t>(listed % kChainPayload);
    return ChainSeek(db, list, listed);
}

int32_t BlockFree(DatabaseRecord& db, uint32_t block) {
    if (block == 0 || block == db.header.freeListBlock || block >= db.header.blockCount) return -1;
    if (SettleFreeList(db) != 0) return -1;
    ChainCursor& list = db.freeListCursor;
    if (ChainSeek(db, list, 4 * db.header.freeCount) != 0) return -1;
    uint8_t entry[4];
    SetBlockWord(entry, 0, block);
    db.freeListBusy = 1;
    const int32_t written = ChainWrite(db, list, entry, 4);
    db.freeListBusy = 0;
    if (written != 4) return -1;
    db.header.freeCount += 1;
    return 0;
}

int64_t ChainCreate(DatabaseRecord& db, ChainCursor& cursor) {
    std::memset(&cursor, 0, sizeof cursor);
    const int64_t block = BlockAlloc(db);
    if (block < 0) return -1;
    cursor.firstBlock = cursor.currentBlock = static_cast<uint32_t>(block);
    return block;
}

int32_t ChainOpen(DatabaseRecord& db, ChainCursor& cursor, uint32_t first) {
    std::memset(&cursor, 0, sizeof cursor);
    cursor.firstBlock = cursor.currentBlock = first;
    uint8_t block[kBlockSize];
    if (BlockRead(db, first, block) != 0) return -1;
    cursor.length = BlockWord(block, 0);
    cursor.nextBlock = BlockWord(block, 1);
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    cursor.fill = static_cast<int32_t>(cursor.length < kChainPayload ? cursor.length : kChainPayload);
    cursor.storedLength = cursor.length;
    return 0;
}

void ChainClose(DatabaseRecord& db, ChainCursor& cursor) {
    if (cursor.dirty) ChainFlush(db, cursor);
    if (db.mode == ModeReadOnly) return;
    uint8_t block[kBlockSize];
    // Write back only a block we have really read.
    if (BlockRead(db, cursor.firstBlock, block) != 0) return;
    SetBlockWord(block, 0, cursor.length);
    if (BlockWrite(db, cursor.firstBlock, block) == 0) cursor.storedLength = cursor.length;
}

#include "hdb/block_storage.h"

#include <cstring>

#include "fileservice/file_service.h"
#include "hdb/chain.h"
#include "hdb/database_record.h"

namespace {

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

}  // namespace

int32_t BlockRead(DatabaseRecord& db, uint32_t block, void* buffer) {
    if (db.file < 0 || block == kNoBlock) return -1;
    const int64_t offset = BlockOffset(block);
    if (!PositionAt(db, offset)) return -1;
    if (DatabaseFileService().FileRead(db.file, buffer, kBlockSize) != static_cast<int32_t>(kBlockSize)) {
        // Where the file stands after a short read is unknown: the next transfer seeks.
        db.filePosition = kUnknownFilePosition;
        return -1;
    }
    db.filePosition = offset + kBlockSize;
    return 0;
}

int32_t BlockWrite(DatabaseRecord& db, uint32_t block, const void* buffer) {
    if (db.file < 0 || block == kNoBlock) return -1;
    const int64_t offset = BlockOffset(block);
    if (!PositionAt(db, offset)) return -1;
    if (DatabaseFileService().FileWrite(db.file, buffer, kBlockSize) != static_cast<int32_t>(kBlockSize)) {
        db.filePosition = kUnknownFilePosition;
        return -1;
    }
    db.filePosition = offset + kBlockSize;
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
    ChainCursor& list = db.freeListCursor;
    if (ChainSeek(db, list, 0) != 0) return 0;
    uint8_t entry[4];
    if (ChainRead(db, list, entry, 4) != 4) return 0;
    if (ChainShift(db, list, 4, -4) != 0) {
        // Part of the list may have moved down, leaving some entry twice in it; handing that
        // block out twice would give one block to two owners. Give the listed blocks up
        // instead: they become unreachable, as a block whose release fails does.
        db.header.freeCount = 0;
        list.length = 0;
        return 0;
    }
    db.header.freeCount -= 1;
    const uint32_t block = BlockWord(entry, 0);
    // A damaged list may name block 0 or a block the file never had; such an entry is dropped.
    if (block == 0 || block >= db.header.blockCount) return 0;
    return block;
}

int32_t BlockFree(DatabaseRecord& db, uint32_t block) {
    if (block == 0 || block == db.header.freeListBlock || block >= db.header.blockCount) return -1;
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

#include "hdb/free_list.h"

#include <cstring>

#include "hdb/block_io.h"
#include "hdb/chain.h"
#include "hdb/database_record.h"

namespace hdb {

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

}  // namespace hdb

#include "hdb/chain.h"

#include <cstring>

#include "hdb/block_storage.h"
#include "hdb/database_record.h"

uint32_t BlockWord(const uint8_t* block, int index) {
    uint32_t value;
    std::memcpy(&value, block + 4 * index, 4);
    return value;
}

void SetBlockWord(uint8_t* block, int index, uint32_t value) { std::memcpy(block + 4 * index, &value, 4); }

int32_t ChainFlush(DatabaseRecord& db, ChainCursor& cursor) {
    uint8_t block[kBlockSize] = {};
    const bool first = cursor.currentBlock == cursor.firstBlock;
    SetBlockWord(block, 0, first ? cursor.length : cursor.previousBlock);
    SetBlockWord(block, 1, cursor.nextBlock);
    std::memcpy(block + 8, cursor.buffer, kChainPayload);
    if (BlockWrite(db, cursor.currentBlock, block) != 0) return -1;
    cursor.dirty = 0;
    return 0;
}

int32_t ChainLoadBlock(DatabaseRecord& db, ChainCursor& cursor, uint32_t blockNumber) {
    uint8_t block[kBlockSize];
    if (BlockRead(db, blockNumber, block) != 0) return -1;
    cursor.previousBlock = blockNumber == cursor.firstBlock ? 0 : BlockWord(block, 0);
    cursor.nextBlock = BlockWord(block, 1);
    cursor.currentBlock = blockNumber;
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    return 0;
}

// Stream operations beyond flush and load arrive with the chain work; until then they fail.
int32_t ChainWrite(DatabaseRecord&, ChainCursor&, const void*, uint32_t) { return -1; }
int32_t ChainRead(DatabaseRecord&, ChainCursor&, void*, uint32_t) { return -1; }
int32_t ChainSeek(DatabaseRecord&, ChainCursor&, uint32_t) { return -1; }
int32_t ChainShift(DatabaseRecord&, ChainCursor&, uint32_t, int32_t) { return -1; }
int32_t ChainTruncate(DatabaseRecord&, ChainCursor&, uint32_t) { return -1; }

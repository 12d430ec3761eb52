// Block chains: doubly linked lists of 256-byte blocks whose 248-byte payloads, in chain order,
// form one byte stream. Every variable-length thing in a database lives in one.
#pragma once

#include <cstdint>

struct DatabaseRecord;

constexpr uint32_t kBlockSize = 256;
constexpr uint32_t kChainPayload = 248;  // block bytes 8..255
constexpr uint32_t kReleasedBlockMark = 0xFFFFFFFFu;

// Cursor over one chain, with the payload of its current block buffered.
struct ChainCursor {
    uint32_t firstBlock;
    uint32_t currentBlock;
    uint32_t nextBlock;      // link word 1 of the current block; 0 = none
    uint32_t previousBlock;  // 0 while the current block is the first
    uint32_t position;       // stream offset
    uint32_t length;         // stream length; authoritative while the chain is in use
    uint8_t buffer[256];     // the current block's payload (the last 8 bytes are never used)
    int32_t fill;            // meaningful buffer bytes: 248 with a next block, else length % 248
    int32_t offset;          // cursor position inside the buffer
    uint32_t dirty;          // 1 when the buffer holds bytes not yet written
    // Link word 0 of the first block as this cursor last read or wrote it. The stream length on
    // disk lags behind `length`; an owner compares the two at close to know whether the first
    // block still needs the final length.
    uint32_t storedLength;
};

// After a failed operation the cursor is still whole: its buffer holds the current block's
// payload (dirty if it has unwritten bytes), its links are that block's, and position and offset
// agree, so the next operation on it neither loses nor misplaces bytes. Bytes moved before the
// failure stay moved.
int32_t ChainFlush(DatabaseRecord& db, ChainCursor& cursor);
int32_t ChainLoadBlock(DatabaseRecord& db, ChainCursor& cursor, uint32_t block);
int32_t ChainWrite(DatabaseRecord& db, ChainCursor& cursor, const void* data, uint32_t count);
int32_t ChainRead(DatabaseRecord& db, ChainCursor& cursor, void* dest, uint32_t count);
int32_t ChainSeek(DatabaseRecord& db, ChainCursor& cursor, uint32_t target);
int32_t ChainShift(DatabaseRecord& db, ChainCursor& cursor, uint32_t at, int32_t delta);
int32_t ChainTruncate(DatabaseRecord& db, ChainCursor& cursor, uint32_t keep);

// Little-endian words of a raw block.
uint32_t BlockWord(const uint8_t* block, int index);
void SetBlockWord(uint8_t* block, int index, uint32_t value);

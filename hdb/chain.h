// Block chains: doubly linked lists of 256-byte blocks whose 248-byte payloads, in chain order,
// form one byte stream. Every variable-length thing in a database lives in one.
#pragma once

#include <cstdint>

#include "hdb/chain_cursor.h"

namespace hdb {

struct DatabaseRecord;

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

// A new chain of one block, taken from the free list or the file's end: its first block, or -1.
int64_t ChainCreate(DatabaseRecord& db, ChainCursor& cursor);
// The cursor at the start of the chain that begins at `first`. 0, or -1 when it cannot be read.
int32_t ChainOpen(DatabaseRecord& db, ChainCursor& cursor, uint32_t first);
// Writes the cursor's unwritten bytes back and, unless the database is read-only, the stream's
// length into the first block.
void ChainClose(DatabaseRecord& db, ChainCursor& cursor);

}  // namespace hdb

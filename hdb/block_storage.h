// Block storage: block N of a database lies at file offset (N+1)*256. Blocks are moved whole
// through the file service; released blocks are kept in the free-block list, the stream of the
// chain whose first block the header names.
#pragma once

#include <cstdint>

struct ChainCursor;
struct DatabaseRecord;

// Through the database's block cache when it has one (a write then reaches the file when the
// cache writes it back), else straight to the file.
int32_t BlockRead(DatabaseRecord& db, uint32_t block, void* buffer);
int32_t BlockWrite(DatabaseRecord& db, uint32_t block, const void* buffer);
// Transfers of `count` adjacent blocks from `first` between memory and the file itself. Both
// return 0 or -1; a read returns the bytes that arrived in *got (whole blocks or not). A failed
// transfer on a database open for writing marks it failed (transferFailed).
int32_t BlockFileRead(DatabaseRecord& db, uint32_t first, uint8_t* bytes, uint32_t count, uint32_t* got);
int32_t BlockFileWrite(DatabaseRecord& db, uint32_t first, const uint8_t* bytes, uint32_t count);
// A block number for the caller to fill (returned as int64 so that every u32 block number and
// -1 are distinct), or -1.
int64_t BlockAlloc(DatabaseRecord& db);
// A block number taken from the free-block list, or 0 when none can be taken.
uint32_t FreeListTake(DatabaseRecord& db);
int32_t BlockFree(DatabaseRecord& db, uint32_t block);
// Brings the free-block list's stream to what taking its entries one at a time from the front
// leaves: the listed entries from offset 0 on, and behind them, where taken entries were, copies
// of the last entry. Takes only move past entries; this runs before the list grows and before it
// is closed, so the list's bytes and its chain's growth are those of a list rewritten at every
// take. 0, or -1 (the list is then given up, as a take whose rewrite fails gives it up).
int32_t SettleFreeList(DatabaseRecord& db);

int64_t ChainCreate(DatabaseRecord& db, ChainCursor& cursor);
int32_t ChainOpen(DatabaseRecord& db, ChainCursor& cursor, uint32_t first);
void ChainClose(DatabaseRecord& db, ChainCursor& cursor);

// Not a block number: the offset of block 0xFFFFFFFF lies beyond the addressable file.
constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

// filePosition's value when the real position of the file is not known.
constexpr int64_t kUnknownFilePosition = -1;

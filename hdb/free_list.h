// The free-block list: the stream of the chain whose first block the header names, four bytes
// a released block. Blocks are taken from its front and given back at its end. The list is itself
// a chain, and chains take their blocks from it: the one circle in the engine's layers.
#pragma once

#include <cstdint>

namespace hdb {

struct DatabaseRecord;

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

}  // namespace hdb

// The block cache of one open database: blocks read once stay in memory, and blocks written go to
// memory first and reach the file later, in block order, when the cache makes room and when the
// database is flushed (always at its final close). A block is marked clean only once the file is
// known to hold exactly its bytes, so a failed transfer never leaves the two disagreeing unseen.
#pragma once

#include <cstdint>

namespace hdb {

struct DatabaseRecord;
class BlockCache;

// The most blocks one database keeps in memory (8 MiB of them).
constexpr uint32_t kDefaultBlockCacheLimit = 32768;

// The limit for databases opened from now on; 0 opens them without a cache, so that every block
// transfer is one transfer of the file. For tests and benchmarks.
void SetBlockCacheLimit(uint32_t blocks);
uint32_t BlockCacheLimit();

// How the cache writes `count` adjacent blocks from `first` back to the database's file: 0, or
// -1 when the transfer failed. The cache knows nothing of files; its owner hands it this when it
// makes the cache.
using BlockWriteBack = int32_t (*)(DatabaseRecord& db, uint32_t first, const uint8_t* bytes, uint32_t count);

// A cache with the current limit that writes back through `writeBack`, or null (no limit, or no
// memory: the database then works without one).
BlockCache* BlockCacheCreate(BlockWriteBack writeBack);
// Frees the cache; dirty blocks in it are lost, so the owner flushes first.
void BlockCacheDestroy(BlockCache* cache);

// The cached bytes of `block` (256 of them), or null when it is not cached.
const uint8_t* BlockCacheLookup(BlockCache& cache, uint32_t block);
// Whether `block` is cached (its use is not counted), and whether a block can be added without
// giving another back.
bool BlockCacheHolds(BlockCache& cache, uint32_t block);
bool BlockCacheHasRoom(const BlockCache& cache);
// Makes `bytes` the cached content of `block`, dirty (not yet in the file) or clean (just read
// from the file). Room is made by writing back the least recently used blocks. Returns 0; 1
// when the block could not be cached for want of memory or room (nothing changed); -1 when
// making room failed to write a block back (nothing of `block` changed).
int32_t BlockCacheStore(DatabaseRecord& db, uint32_t block, const uint8_t* bytes, bool dirty);
// Writes every dirty block back, in block order, in runs of adjacent blocks. 0, or -1 when a
// write failed (the blocks not written stay dirty).
int32_t BlockCacheFlush(DatabaseRecord& db);
// Number of blocks held, and of those not yet in the file.
uint32_t BlockCacheSize(const BlockCache& cache);
uint32_t BlockCacheDirtyCount(const BlockCache& cache);

}  // namespace hdb

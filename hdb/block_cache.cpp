#include "hdb/block_cache.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "hdb/database_record.h"
#include "hdb/format.h"
#include "platform/platform.h"

namespace hdb {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kChunkEntries = 256;       // entries are allocated this many at a time
constexpr uint32_t kFirstTableSize = 1024;    // slots of the block-number index, a power of two
constexpr uint32_t kRunBlocks = 64;           // the most blocks one write-back transfer carries

uint32_t g_limit = kDefaultBlockCacheLimit;

// What the cache knows of an entry, kept apart from its bytes: walks of the use order and probes
// of the index touch 16 bytes an entry, not a block's worth.
struct CacheEntry {
    uint32_t block;
    uint32_t dirty;
    uint32_t older;  // towards the least recently used; kNone at the end
    uint32_t newer;  // towards the most recently used; also links unused entries
};

struct CacheChunk {
    CacheEntry entries[kChunkEntries];
    uint8_t bytes[kChunkEntries][kBlockSize];
};

// One slot of the block-number index: the block and its entry's number plus one (0: empty).
// The block is kept beside the entry so that a probe never has to visit the entry itself.
struct IndexSlot {
    uint32_t block;
    uint32_t entry;
};

// Fibonacci hashing of the block's group of eight: the high bits of the product spread the groups
// evenly over the index, and the eight blocks of a group take the eight slots of one aligned run
// of slots. Blocks are mostly used beside their neighbours (a growing file, a chain), whose
// slots then share a line of the processor's cache instead of taking one line each.
uint32_t Slot(uint32_t block, uint32_t shift) { return ((block >> 3) * 0x9E3779B1u >> shift) ^ (block & 7u); }

}  // namespace

// Entries live in chunks; an index maps block numbers to entries by open addressing; a list
// orders them by last use.
class BlockCache {
public:
    BlockCache(uint32_t limit, BlockWriteBack writeBack) : limit_(limit), writeBack_(writeBack) {}
    ~BlockCache() {
        for (uint32_t i = 0; i < chunkCount_; ++i) platform::Free(chunks_[i]);
        platform::Free(chunks_);
        platform::Free(table_);
    }

    CacheEntry& At(uint32_t index) { return chunks_[index / kChunkEntries]->entries[index % kChunkEntries]; }
    uint8_t* Bytes(uint32_t index) { return chunks_[index / kChunkEntries]->bytes[index % kChunkEntries]; }

    uint32_t Find(uint32_t block) const {
        if (!table_) return kNone;
        for (uint32_t slot = Slot(block, tableShift_);; slot = (slot + 1) & tableMask_) {
            const IndexSlot& held = table_[slot];
            if (held.entry == 0) return kNone;
            if (held.block == block) return held.entry - 1;
        }
    }

    void Touch(uint32_t index) {
        if (newest_ == index) return;
        Unlink(index);
        LinkNewest(index);
    }

    // A new entry for `block` (not cached yet), or kNone without memory. The caller makes room
    // first: the cache never holds more than its limit.
    uint32_t Add(uint32_t block) {
        if (!EnsureTable()) return kNone;
        uint32_t index = unused_;
        if (index != kNone) {
            unused_ = At(index).newer;
        } else {
            if (!EnsureChunk()) return kNone;
            index = handedOut_++;
        }
        CacheEntry& entry = At(index);
        entry.block = block;
        entry.dirty = 0;
        uint32_t slot = Slot(block, tableShift_);
        while (table_[slot].entry != 0) slot = (slot + 1) & tableMask_;
        table_[slot] = {block, index + 1};
        LinkNewest(index);
        ++live_;
        return index;
    }

    void Remove(uint32_t index) {
        CacheEntry& entry = At(index);
        if (entry.dirty) --dirty_;
        RemoveFromTable(entry.block);
        Unlink(index);
        entry.newer = unused_;
        unused_ = index;
        --live_;
    }

    void SetDirty(uint32_t index, bool dirty) {
        CacheEntry& entry = At(index);
        if (entry.dirty && !dirty) --dirty_;
        if (!entry.dirty && dirty) ++dirty_;
        entry.dirty = dirty ? 1 : 0;
    }

    uint32_t limit_;
    BlockWriteBack writeBack_;
    uint32_t live_ = 0;
    uint32_t dirty_ = 0;
    uint32_t oldest_ = kNone;
    uint32_t newest_ = kNone;

private:
    void Unlink(uint32_t index) {
        CacheEntry& entry = At(index);
        if (entry.older != kNone) At(entry.older).newer = entry.newer;
        else oldest_ = entry.newer;
        if (entry.newer != kNone) At(entry.newer).older = entry.older;
        else newest_ = entry.older;
    }
    void LinkNewest(uint32_t index) {
        CacheEntry& entry = At(index);
        entry.older = newest_;
        entry.newer = kNone;
        if (newest_ != kNone) At(newest_).newer = index;
        else oldest_ = index;
        newest_ = index;
    }

    // Linear probing with backward-shift deletion keeps every chain of probes unbroken.
    void RemoveFromTable(uint32_t block) {
        uint32_t hole = Slot(block, tableShift_);
        while (table_[hole].block != block || table_[hole].entry == 0) hole = (hole + 1) & tableMask_;
        for (uint32_t next = (hole + 1) & tableMask_; table_[next].entry != 0; next = (next + 1) & tableMask_) {
            const uint32_t home = Slot(table_[next].block, tableShift_);
            // The entry at `next` may move into the hole unless its home lies after the hole.
            if (((next - home) & tableMask_) >= ((next - hole) & tableMask_)) {
                table_[hole] = table_[next];
                hole = next;
            }
        }
        table_[hole] = {0, 0};
    }

    // The index stays at most half full.
    bool EnsureTable() {
        const uint32_t size = table_ ? tableMask_ + 1 : 0;
        if (table_ && (live_ + 1) * 2 <= size) return true;
        const uint32_t grown = size == 0 ? kFirstTableSize : size * 2;
        auto* table = static_cast<IndexSlot*>(platform::Allocate(sizeof(IndexSlot) * grown));
        if (!table) return false;
        std::memset(table, 0, sizeof(IndexSlot) * grown);
        const uint32_t mask = grown - 1;
        const auto shift = static_cast<uint32_t>(32 - std::countr_zero(grown));
        for (uint32_t i = 0; i < size; ++i) {
            if (table_[i].entry == 0) continue;
            uint32_t slot = Slot(table_[i].block, shift);
            while (table[slot].entry != 0) slot = (slot + 1) & mask;
            table[slot] = table_[i];
        }
        platform::Free(table_);
        table_ = table;
        tableMask_ = mask;
        tableShift_ = shift;
        return true;
    }

    bool EnsureChunk() {
        if (handedOut_ < chunkCount_ * kChunkEntries) return true;
        if (chunkCount_ == chunkCapacity_) {
            const uint32_t grown = chunkCapacity_ == 0 ? 16 : chunkCapacity_ * 2;
            auto* chunks = static_cast<CacheChunk**>(platform::Allocate(sizeof(CacheChunk*) * grown));
            if (!chunks) return false;
            if (chunkCount_) std::memcpy(chunks, chunks_, sizeof(CacheChunk*) * chunkCount_);
            platform::Free(chunks_);
            chunks_ = chunks;
            chunkCapacity_ = grown;
        }
        auto* chunk = static_cast<CacheChunk*>(platform::Allocate(sizeof(CacheChunk)));
        if (!chunk) return false;
        chunks_[chunkCount_++] = chunk;
        return true;
    }

    CacheChunk** chunks_ = nullptr;
    uint32_t chunkCount_ = 0;
    uint32_t chunkCapacity_ = 0;
    uint32_t handedOut_ = 0;  // entries taken from the chunks so far
    uint32_t unused_ = kNone;  // entries given back, linked through `newer`
    IndexSlot* table_ = nullptr;
    uint32_t tableMask_ = 0;
    uint32_t tableShift_ = 32;
};

namespace {

// A dirty entry as write-back sorts it: its block in the high half, the entry in the low half, so
// that sorting compares plain numbers and never visits the entries themselves.
uint64_t ByBlock(BlockCache& cache, uint32_t index) { return static_cast<uint64_t>(cache.At(index).block) << 32 | index; }
uint32_t EntryOf(uint64_t key) { return static_cast<uint32_t>(key); }
uint32_t BlockOf(uint64_t key) { return static_cast<uint32_t>(key >> 32); }

// Writes the given dirty entries (ByBlock keys) back, sorted by block, one transfer per run of
// adjacent blocks. Entries written become clean. 0, or -1 after a failed transfer: the write-back
// stops there, or with `keepGoing` writes every other run it can.
int32_t WriteBack(DatabaseRecord& db, BlockCache& cache, uint64_t* keys, uint32_t count, bool keepGoing = false) {
    int32_t result = 0;
    std::sort(keys, keys + count);
    uint8_t run[kRunBlocks * kBlockSize];
    for (uint32_t i = 0; i < count;) {
        const uint32_t first = BlockOf(keys[i]);
        uint32_t n = 0;
        while (i + n < count && n < kRunBlocks && BlockOf(keys[i + n]) == first + n) {
            std::memcpy(run + n * kBlockSize, cache.Bytes(EntryOf(keys[i + n])), kBlockSize);
            ++n;
        }
        if (cache.writeBack_(db, first, run, n) == 0) {
            for (uint32_t k = 0; k < n; ++k) cache.SetDirty(EntryOf(keys[i + k]), false);
        } else {
            result = -1;
            if (!keepGoing) return -1;
        }
        i += n;
    }
    return result;
}

// Gives back the least recently used entries, about a sixteenth of the limit at a time, writing
// the dirty ones back first. 0 when there is room; -1 when the write-back failed (the dirty
// entries stay, the clean ones go); 1 when there is no room because earlier write-backs failed
// and only dirty entries are left.
int32_t MakeRoom(DatabaseRecord& db, BlockCache& cache) {
    if (cache.live_ < cache.limit_) return 0;
    const uint32_t batch = std::max<uint32_t>(1, cache.limit_ / 16);
    auto* victims = static_cast<uint64_t*>(platform::Allocate(sizeof(uint64_t) * batch));
    uint64_t single = 0;
    uint64_t* list = victims ? victims : &single;
    const uint32_t most = victims ? batch : 1;
    // In one walk: the dirty victims from the front of the list (written back in block order),
    // the clean ones from its back.
    uint32_t dirty = 0;
    uint32_t clean = 0;
    uint32_t index = cache.oldest_;
    for (; index != kNone && dirty + clean < most; index = cache.At(index).newer) {
        if (cache.At(index).dirty) list[dirty++] = ByBlock(cache, index);
        else list[most - ++clean] = index;
    }
    // Once a transfer has failed, nothing more is written before the close.
    const bool writable = db.transferFailed == 0;
    const int32_t written = dirty > 0 && writable ? WriteBack(db, cache, list, dirty) : 0;
    const uint32_t from = written == 0 && writable ? 0 : dirty;
    for (uint32_t i = from; i < dirty; ++i) cache.Remove(EntryOf(list[i]));
    for (uint32_t i = most - clean; i < most; ++i) cache.Remove(EntryOf(list[i]));
    platform::Free(victims);
    if (written != 0) return -1;
    return from < dirty || clean > 0 ? 0 : 1;
}

}  // namespace

void SetBlockCacheLimit(uint32_t blocks) { g_limit = blocks; }
uint32_t BlockCacheLimit() { return g_limit; }

BlockCache* BlockCacheCreate(BlockWriteBack writeBack) {
    if (g_limit == 0) return nullptr;
    void* memory = platform::Allocate(sizeof(BlockCache));
    return memory ? new (memory) BlockCache(g_limit, writeBack) : nullptr;
}

void BlockCacheDestroy(BlockCache* cache) {
    if (!cache) return;
    cache->~BlockCache();
    platform::Free(cache);
}

const uint8_t* BlockCacheLookup(BlockCache& cache, uint32_t block) {
    const uint32_t index = cache.Find(block);
    if (index == kNone) return nullptr;
    cache.Touch(index);
    return cache.Bytes(index);
}

bool BlockCacheHolds(BlockCache& cache, uint32_t block) { return cache.Find(block) != kNone; }
bool BlockCacheHasRoom(const BlockCache& cache) { return cache.live_ < cache.limit_; }

int32_t BlockCacheStore(DatabaseRecord& db, uint32_t block, const uint8_t* bytes, bool dirty) {
    BlockCache& cache = *db.cache;
    uint32_t index = cache.Find(block);
    if (index == kNone) {
        const int32_t room = MakeRoom(db, cache);
        if (room != 0) return room;
        index = cache.Add(block);
        if (index == kNone) return 1;
    } else {
        cache.Touch(index);
    }
    std::memcpy(cache.Bytes(index), bytes, kBlockSize);
    // A clean copy never replaces bytes the file does not have yet.
    if (dirty || !cache.At(index).dirty) cache.SetDirty(index, dirty);
    return 0;
}

int32_t BlockCacheFlush(DatabaseRecord& db) {
    if (!db.cache) return 0;
    BlockCache& cache = *db.cache;
    if (cache.dirty_ == 0) return 0;
    auto* entries = static_cast<uint64_t*>(platform::Allocate(sizeof(uint64_t) * cache.dirty_));
    if (!entries) {
        // Without memory for the list, the dirty blocks go back one at a time.
        int32_t result = 0;
        for (uint32_t index = cache.oldest_; index != kNone; index = cache.At(index).newer) {
            if (!cache.At(index).dirty) continue;
            uint64_t one = ByBlock(cache, index);
            if (WriteBack(db, cache, &one, 1) != 0) result = -1;
        }
        return result;
    }
    uint32_t count = 0;
    for (uint32_t index = cache.oldest_; index != kNone; index = cache.At(index).newer)
        if (cache.At(index).dirty) entries[count++] = ByBlock(cache, index);
    const int32_t result = WriteBack(db, cache, entries, count, true);
    platform::Free(entries);
    return result;
}

uint32_t BlockCacheSize(const BlockCache& cache) { return cache.live_; }
uint32_t BlockCacheDirtyCount(const BlockCache& cache) { return cache.dirty_; }

}  // namespace hdb

#include "hdb/block_io.h"

#include <cstring>

#include "fileservice/file_service.h"
#include "hdb/block_cache.h"
#include "hdb/database_record.h"
#include "hdb/engine_file_service.h"

namespace hdb {

namespace {

constexpr uint32_t kClusterBlocks = 16;  // 4 KiB: a miss reads its neighbours with it

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

}  // namespace hdb

// Block I/O: block N of a database lies at file offset (N+1)*256, and blocks move whole between
// memory and the file through the file service, by way of the database's block cache when it
// has one. The cache is made with BlockFileWrite as its way back to the file.
#pragma once

#include <cstdint>

namespace hdb {

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

// Not a block number: the offset of block 0xFFFFFFFF lies beyond the addressable file.
constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

}  // namespace hdb

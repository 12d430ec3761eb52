// The cursor over one chain's stream, with the payload of its current block buffered. Every
// chain in use has one: a key's lives in its node, the free-block list's in the database record.
#pragma once

#include <cstdint>

#include "hdb/format.h"

namespace hdb {

struct ChainCursor {
    uint32_t firstBlock;
    uint32_t currentBlock;
    uint32_t nextBlock;      // link word 1 of the current block; 0 = none
    uint32_t previousBlock;  // 0 while the current block is the first
    uint32_t position;       // stream offset
    uint32_t length;         // stream length; authoritative while the chain is in use
    uint8_t buffer[kBlockSize];  // the current block's payload (the last 8 bytes are never used)
    int32_t fill;            // meaningful buffer bytes: 248 with a next block, else length % 248
    int32_t offset;          // cursor position inside the buffer
    uint32_t dirty;          // 1 when the buffer holds bytes not yet written
    // Link word 0 of the first block as this cursor last read or wrote it. The stream length on
    // disk lags behind `length`; an owner compares the two at close to know whether the first
    // block still needs the final length.
    uint32_t storedLength;
};

}  // namespace hdb

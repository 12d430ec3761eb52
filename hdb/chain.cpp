#include "hdb/chain.h"

#include <cstring>

#include "hdb/block_io.h"
#include "hdb/counted_array.h"
#include "hdb/database_record.h"
#include "hdb/free_list.h"
#include "hdb/node_cache.h"
#include "platform/platform.h"

namespace hdb {

namespace {

constexpr int32_t kPayload = static_cast<int32_t>(kChainPayload);
constexpr uint32_t kShiftLoad = 30000;  // bytes moved per load by ChainShift
// Wider gaps are opened in several passes: each load must still carry new bytes.
constexpr uint32_t kShiftOpenStep = kShiftLoad / 2;

int32_t FillFor(const ChainCursor& cursor) {
    return cursor.nextBlock != 0 ? kPayload : static_cast<int32_t>(cursor.length % kChainPayload);
}

// Stream place of the current block. Offset may be 248 after a failure at a block's end, so the
// place comes from the block's start rather than from the position alone.
uint32_t CurrentPlace(const ChainCursor& cursor) {
    return (cursor.position - static_cast<uint32_t>(cursor.offset)) / kChainPayload;
}

// After a walk stopped part-way, makes position agree with the block the cursor now holds.
void SettleAtBlockStart(ChainCursor& cursor, uint32_t place) {
    cursor.position = place * kChainPayload;
    cursor.offset = 0;
    cursor.fill = FillFor(cursor);
}

// Key chains remember where their places lie (the free list's cursor only ever walks a short way).
bool RemembersPlaces(const DatabaseRecord& db, const ChainCursor& cursor) { return &cursor != &db.freeListCursor; }

// Moves to the next block of the chain. The block must link back to the current one: a link
// that loops to the head, into another chain or into a released block fails here, so no walk
// over a damaged file can run on or misplace bytes. The cursor changes only on success.
int32_t StepForward(DatabaseRecord& db, ChainCursor& cursor) {
    const uint32_t next = cursor.nextBlock;
    if (next == 0 || next == cursor.firstBlock) return -1;
    if (cursor.dirty && ChainFlush(db, cursor) != 0) return -1;
    uint8_t block[kBlockSize];
    if (BlockRead(db, next, block) != 0) return -1;
    if (BlockWord(block, 0) != cursor.currentBlock) return -1;
    if (RemembersPlaces(db, cursor)) RememberPlace(db, cursor.firstBlock, CurrentPlace(cursor) + 1, next);
    cursor.previousBlock = cursor.currentBlock;
    cursor.currentBlock = next;
    cursor.nextBlock = BlockWord(block, 1);
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    return 0;
}

// Goes straight to a place whose block is remembered. The block must link back to the block
// remembered before it; when it does not, the remembered places are dropped and the cursor
// stands at the head instead. False when the place is not remembered or the cursor is at the
// head after a mismatch (the caller walks then); -1 in *failed when a read failed.
bool JumpToPlace(DatabaseRecord& db, ChainCursor& cursor, uint32_t place, int32_t* failed) {
    *failed = 0;
    if (place == 0 || !RemembersPlaces(db, cursor)) return false;
    const uint32_t block = RecalledPlace(db, cursor.firstBlock, place);
    if (block == 0) return false;
    if ((cursor.dirty && ChainFlush(db, cursor) != 0) || ChainLoadBlock(db, cursor, block) != 0) {
        *failed = -1;
        return false;
    }
    if (cursor.previousBlock == RecalledPlace(db, cursor.firstBlock, place - 1)) return true;
    ForgetPlacesFrom(db, cursor.firstBlock, 1);
    if (ChainLoadBlock(db, cursor, cursor.firstBlock) != 0) *failed = -1;
    return false;
}

// Moves to the previous block; it must name the current block as its successor.
int32_t StepBack(DatabaseRecord& db, ChainCursor& cursor) {
    if (cursor.currentBlock == cursor.firstBlock) return -1;
    const uint32_t previous = cursor.previousBlock;
    if (cursor.dirty && ChainFlush(db, cursor) != 0) return -1;
    uint8_t block[kBlockSize];
    if (BlockRead(db, previous, block) != 0) return -1;
    if (BlockWord(block, 1) != cursor.currentBlock) return -1;
    cursor.previousBlock = previous == cursor.firstBlock ? 0 : BlockWord(block, 0);
    cursor.nextBlock = cursor.currentBlock;
    cursor.currentBlock = previous;
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    return 0;
}

// Makes the block just linked as the next one current without reading it: a block fresh from
// BlockAlloc holds nothing of this stream, whatever its old content.
void EnterFreshBlock(ChainCursor& cursor) {
    cursor.previousBlock = cursor.currentBlock;
    cursor.currentBlock = cursor.nextBlock;
    cursor.nextBlock = 0;
    std::memset(cursor.buffer, 0, sizeof cursor.buffer);
}

void RaiseLengthToPosition(ChainCursor& cursor) {
    if (cursor.position > cursor.length) cursor.length = cursor.position;
}

using BlockList = CountedArray<uint32_t>;

// The blocks of a chain as linked on disk, checked before anything is changed: every block
// after the first must link back to its predecessor, the head must not come round again, and
// the chain cannot hold more blocks than the file. `firstBlock` and `keepLast` receive the raw
// blocks that ChainTruncate rewrites.
int32_t CollectChain(DatabaseRecord& db, const ChainCursor& cursor, uint32_t keep, BlockList& blocks,
                     uint8_t* firstBlock, uint8_t* keepLast) {
    uint32_t current = cursor.firstBlock;
    uint32_t previous = 0;
    for (uint32_t place = 0;; ++place) {
        if (place >= db.header.blockCount) return -1;
        uint8_t block[kBlockSize];
        if (BlockRead(db, current, block) != 0) return -1;
        const uint32_t word0 = BlockWord(block, 0);
        if (place == 0 && word0 == kReleasedBlockMark) return -1;
        if (place > 0 && (current == cursor.firstBlock || word0 != previous)) return -1;
        if (place == 0) std::memcpy(firstBlock, block, kBlockSize);
        if (keep > 0 && place == keep - 1) std::memcpy(keepLast, block, kBlockSize);
        if (!blocks.Append(current)) {
            db.memoryFailed = 1;
            return -1;
        }
        const uint32_t next = BlockWord(block, 1);
        if (next == 0) return 0;
        previous = current;
        current = next;
    }
}

// Opens a gap of `delta` bytes (less than one load) at `at`, moving the tail in loads.
int32_t OpenGap(DatabaseRecord& db, ChainCursor& cursor, uint8_t* work, uint32_t at, uint32_t delta) {
    const uint32_t end = cursor.length + delta;
    std::memset(work, 0, delta);
    if (ChainSeek(db, cursor, cursor.length) != 0) return -1;
    if (ChainWrite(db, cursor, work, delta) != static_cast<int32_t>(delta)) return -1;

    if (ChainSeek(db, cursor, at) != 0) return -1;
    uint32_t want = end - at < kShiftLoad ? end - at : kShiftLoad;
    int32_t got = ChainRead(db, cursor, work, want);
    if (got < 0) return -1;
    uint32_t q = static_cast<uint32_t>(got);
    if (q < delta) return -1;  // the stream is shorter than its length says
    if (ChainSeek(db, cursor, at + delta) != 0) return -1;
    if (ChainWrite(db, cursor, work, q - delta) != static_cast<int32_t>(q - delta)) return -1;
    if (q < kShiftLoad) return 0;

    // The last delta bytes of each load are carried to the front of the next one.
    std::memmove(work, work + kShiftLoad - delta, delta);
    uint32_t p = at + kShiftLoad;
    for (;;) {
        want = end - p < kShiftLoad - delta ? end - p : kShiftLoad - delta;
        if (ChainSeek(db, cursor, p) != 0) return -1;
        got = ChainRead(db, cursor, work + delta, want);
        if (got < 0) return -1;
        q = static_cast<uint32_t>(got);
        if (ChainSeek(db, cursor, p) != 0) return -1;
        if (ChainWrite(db, cursor, work, q) != static_cast<int32_t>(q)) return -1;
        if (q < kShiftLoad - delta) return 0;
        std::memmove(work, work + q, delta);
        p += q;
    }
}

// Closes the `gap` bytes just before `at`: the bytes from `at` on move down by `gap`.
int32_t CloseGap(DatabaseRecord& db, ChainCursor& cursor, uint8_t* work, uint32_t at, uint32_t gap) {
    const uint32_t length = cursor.length;
    for (uint32_t p = at; p < length;) {
        if (ChainSeek(db, cursor, p) != 0) return -1;
        const uint32_t want = length - p < kShiftLoad ? length - p : kShiftLoad;
        const int32_t got = ChainRead(db, cursor, work, want);
        if (got < 0) return -1;
        if (got == 0) break;
        if (ChainSeek(db, cursor, p - gap) != 0) return -1;
        if (ChainWrite(db, cursor, work, static_cast<uint32_t>(got)) != got) return -1;
        p += static_cast<uint32_t>(got);
    }
    cursor.length = length - gap;
    cursor.fill = FillFor(cursor);
    // The cursor may stand beyond the shortened end; a later write there would leave a hole.
    if (cursor.position > cursor.length) return ChainSeek(db, cursor, cursor.length);
    return 0;
}

}  // namespace

int32_t ChainFlush(DatabaseRecord& db, ChainCursor& cursor) {
    uint8_t block[kBlockSize] = {};
    const bool first = cursor.currentBlock == cursor.firstBlock;
    SetBlockWord(block, 0, first ? cursor.length : cursor.previousBlock);
    SetBlockWord(block, 1, cursor.nextBlock);
    std::memcpy(block + 8, cursor.buffer, kChainPayload);
    if (BlockWrite(db, cursor.currentBlock, block) != 0) return -1;
    if (first) cursor.storedLength = cursor.length;
    cursor.dirty = 0;
    return 0;
}

int32_t ChainLoadBlock(DatabaseRecord& db, ChainCursor& cursor, uint32_t blockNumber) {
    uint8_t block[kBlockSize];
    if (BlockRead(db, blockNumber, block) != 0) return -1;
    const bool first = blockNumber == cursor.firstBlock;
    // Past the head, word 0 names the previous block; the released mark is never one.
    if (!first && BlockWord(block, 0) == kReleasedBlockMark) return -1;
    cursor.previousBlock = first ? 0 : BlockWord(block, 0);
    cursor.nextBlock = BlockWord(block, 1);
    cursor.currentBlock = blockNumber;
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    return 0;
}

int32_t ChainWrite(DatabaseRecord& db, ChainCursor& cursor, const void* data, uint32_t count) {
    if (count > 0x7FFFFFFFu || static_cast<uint64_t>(cursor.position) + count > 0xFFFFFFFFu) return -1;
    const auto* source = static_cast<const uint8_t*>(data);
    uint32_t n = count;
    // A write that reaches the end of a block links in the next one and moves there.
    while (static_cast<uint32_t>(cursor.offset) + n >= kChainPayload) {
        const uint32_t startPosition = cursor.position;
        const int32_t startOffset = cursor.offset;
        const uint32_t room = kChainPayload - static_cast<uint32_t>(cursor.offset);
        if (room > 0) {
            std::memcpy(cursor.buffer + cursor.offset, source, room);
            cursor.offset += static_cast<int32_t>(room);
            cursor.position += room;
            source += room;
            n -= room;
            cursor.dirty = 1;
        }
        bool fresh = false;
        if (cursor.nextBlock == 0) {
            const int64_t block = BlockAlloc(db);
            if (block < 0) {
                RaiseLengthToPosition(cursor);
                return -1;
            }
            cursor.nextBlock = static_cast<uint32_t>(block);
            fresh = true;
        }
        // The head keeps the length as it stood before this write grew it; the owner's close
        // stores the final one.
        if (ChainFlush(db, cursor) != 0 || (!fresh && StepForward(db, cursor) != 0)) {
            // A fresh block that the file does not link yet stays out of the chain (its number
            // is skipped, as after a failed growth): linked later, it would hold no chain block.
            // The stream then ends inside the current block, before this block's part of the write.
            if (fresh) {
                cursor.nextBlock = 0;
                cursor.position = startPosition;
                cursor.offset = startOffset;
            }
            RaiseLengthToPosition(cursor);
            cursor.fill = FillFor(cursor);
            return -1;
        }
        if (fresh) {
            if (RemembersPlaces(db, cursor))
                RememberPlace(db, cursor.firstBlock, CurrentPlace(cursor) + 1, cursor.nextBlock);
            EnterFreshBlock(cursor);
        }
        RaiseLengthToPosition(cursor);
        cursor.offset = 0;
        cursor.fill = FillFor(cursor);
    }
    if (n > 0) std::memcpy(cursor.buffer + cursor.offset, source, n);
    cursor.offset += static_cast<int32_t>(n);
    if (cursor.offset > cursor.fill) cursor.fill = cursor.offset;
    cursor.position += n;
    RaiseLengthToPosition(cursor);
    cursor.dirty = 1;
    return static_cast<int32_t>(count);
}

int32_t ChainRead(DatabaseRecord& db, ChainCursor& cursor, void* dest, uint32_t count) {
    if (count > 0x7FFFFFFFu) return -1;
    auto* out = static_cast<uint8_t*>(dest);
    uint32_t n = count;
    uint32_t total = 0;
    while (n > 0) {
        // Reads end at the stream's length even where the chain holds spare blocks beyond it.
        if (cursor.position >= cursor.length) break;
        int32_t available = cursor.fill - cursor.offset;
        if (available <= 0) {
            if (cursor.nextBlock == 0) break;
            if (StepForward(db, cursor) != 0) return -1;
            cursor.offset = 0;
            cursor.fill = FillFor(cursor);
            available = cursor.fill;
            if (available == 0) break;
        }
        uint32_t take = static_cast<uint32_t>(available);
        if (take > cursor.length - cursor.position) take = cursor.length - cursor.position;
        if (take > n) take = n;
        std::memcpy(out, cursor.buffer + cursor.offset, take);
        out += take;
        cursor.position += take;
        cursor.offset += static_cast<int32_t>(take);
        n -= take;
        total += take;
    }
    if (cursor.offset == kPayload && cursor.nextBlock != 0) {
        if (StepForward(db, cursor) != 0) return -1;
        cursor.offset = 0;
        cursor.fill = FillFor(cursor);
    }
    return static_cast<int32_t>(total);
}

int32_t ChainSeek(DatabaseRecord& db, ChainCursor& cursor, uint32_t target) {
    if (target == cursor.position) return 0;
    if (target > cursor.length) target = cursor.length;
    uint32_t from = CurrentPlace(cursor);
    const uint32_t to = target / kChainPayload;
    bool jumped = false;
    if (from != to) {
        // A remembered place needs no walk; after a mismatch the cursor stands at the head.
        const uint32_t head = cursor.currentBlock;
        int32_t failed = 0;
        jumped = JumpToPlace(db, cursor, to, &failed);
        if (failed) return -1;
        if (!jumped && cursor.currentBlock != head) {
            from = 0;
            SettleAtBlockStart(cursor, 0);
        }
    }
    if (from != to && !jumped) {
        uint32_t place = from;
        int32_t failed = 0;
        if (to > from) {
            while (place < to && !(failed = StepForward(db, cursor))) ++place;
        } else if (to < from / 2) {
            // Walking back further than half the way costs more than starting again at the head.
            if (cursor.dirty && ChainFlush(db, cursor) != 0) return -1;
            if (ChainLoadBlock(db, cursor, cursor.firstBlock) != 0) return -1;
            place = 0;
            while (place < to && !(failed = StepForward(db, cursor))) ++place;
        } else {
            while (place > to && !(failed = StepBack(db, cursor))) --place;
        }
        if (failed) {
            if (place != from) SettleAtBlockStart(cursor, place);
            return -1;
        }
    }
    cursor.position = target;
    cursor.offset = static_cast<int32_t>(target % kChainPayload);
    cursor.fill = FillFor(cursor);
    return 0;
}

int32_t ChainShift(DatabaseRecord& db, ChainCursor& cursor, uint32_t at, int32_t delta) {
    if (delta == 0) return 0;
    const uint32_t length = cursor.length;
    if (at > length) return -1;
    const uint32_t size = delta > 0 ? static_cast<uint32_t>(delta) : static_cast<uint32_t>(-static_cast<int64_t>(delta));
    if (delta > 0 && static_cast<uint64_t>(length) + size > 0xFFFFFFFFu) return -1;
    if (delta < 0 && size > at) return -1;
    auto* work = static_cast<uint8_t*>(AllocateForAnswer(db, kShiftLoad));
    if (!work) return -1;
    int32_t result = 0;
    if (delta < 0) {
        result = CloseGap(db, cursor, work, at, size);
    } else {
        for (uint32_t left = size; left > 0 && result == 0;) {
            const uint32_t step = left < kShiftOpenStep ? left : kShiftOpenStep;
            result = OpenGap(db, cursor, work, at, step);
            left -= step;
        }
    }
    platform::Free(work);
    return result;
}

int32_t ChainTruncate(DatabaseRecord& db, ChainCursor& cursor, uint32_t keep) {
    BlockList blocks(64);
    uint8_t first[kBlockSize];
    uint8_t last[kBlockSize];
    if (CollectChain(db, cursor, keep, blocks, first, last) != 0) return -1;
    if (RemembersPlaces(db, cursor)) ForgetPlacesFrom(db, cursor.firstBlock, keep);

    // Kept blocks other than the head and the new tail are unchanged and need no write.
    if (keep > 0) {
        SetBlockWord(first, 0, cursor.length);
        if (keep == 1) SetBlockWord(first, 1, 0);
        if (BlockWrite(db, blocks[0], first) == 0) cursor.storedLength = cursor.length;
        if (keep > 1 && keep <= blocks.Count()) {
            SetBlockWord(last, 1, 0);
            BlockWrite(db, blocks[keep - 1], last);
        }
    }
    uint8_t released[kBlockSize] = {};
    SetBlockWord(released, 0, kReleasedBlockMark);
    for (uint32_t place = keep; place < blocks.Count(); ++place) {
        BlockWrite(db, blocks[place], released);
        BlockFree(db, blocks[place]);
    }
    return 0;
}

int64_t ChainCreate(DatabaseRecord& db, ChainCursor& cursor) {
    std::memset(&cursor, 0, sizeof cursor);
    const int64_t block = BlockAlloc(db);
    if (block < 0) return -1;
    cursor.firstBlock = cursor.currentBlock = static_cast<uint32_t>(block);
    return block;
}

int32_t ChainOpen(DatabaseRecord& db, ChainCursor& cursor, uint32_t first) {
    std::memset(&cursor, 0, sizeof cursor);
    cursor.firstBlock = cursor.currentBlock = first;
    uint8_t block[kBlockSize];
    if (BlockRead(db, first, block) != 0) return -1;
    cursor.length = BlockWord(block, 0);
    cursor.nextBlock = BlockWord(block, 1);
    std::memcpy(cursor.buffer, block + 8, kChainPayload);
    cursor.fill = static_cast<int32_t>(cursor.length < kChainPayload ? cursor.length : kChainPayload);
    cursor.storedLength = cursor.length;
    return 0;
}

void ChainClose(DatabaseRecord& db, ChainCursor& cursor) {
    if (cursor.dirty) ChainFlush(db, cursor);
    if (db.mode == ModeReadOnly) return;
    uint8_t block[kBlockSize];
    // Write back only a block we have really read.
    if (BlockRead(db, cursor.firstBlock, block) != 0) return;
    SetBlockWord(block, 0, cursor.length);
    if (BlockWrite(db, cursor.firstBlock, block) == 0) cursor.storedLength = cursor.length;
}

}  // namespace hdb

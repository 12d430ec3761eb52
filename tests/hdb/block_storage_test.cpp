#include "hdb/block_io.h"
#include "hdb/free_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "hdb/chain.h"
#include "hdb/database_record.h"
#include "hdb_test_support.h"
#include "platform/testing/fault_injection.h"

using namespace hdb;

namespace {

using namespace hdb_test;
using platform::CallKind;
using platform::Fault;

class BlockStorageTest : public DatabaseTest {
protected:
    // Allocates until blockCount reaches `count`.
    void GrowTo(uint32_t count) {
        while (db().header.blockCount < count) ASSERT_GE(BlockAlloc(db()), 0);
    }
    // Writes block n filled with the byte n, so a misplaced transfer shows.
    void WriteMarked(uint32_t block) {
        std::vector<uint8_t> bytes(kBlockSize, static_cast<uint8_t>(block));
        ASSERT_EQ(BlockWrite(db(), block, bytes.data()), 0);
    }
};

// Without a cache every block transfer is one transfer of the file, so a test can make exactly
// the transfer it means fail.
class UncachedBlockStorageTest : public BlockStorageTest {
    CacheLimitScope uncached_{0};
};

TEST_F(BlockStorageTest, FirstAllocationIsBlockOneAndGrowsTheFile) {
    EXPECT_EQ(File().size(), 512u);
    EXPECT_EQ(BlockAlloc(db()), 1);
    EXPECT_EQ(db().header.blockCount, 2u);
    const auto file = File();
    ASSERT_EQ(file.size(), 768u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 512, file.end()), std::vector<uint8_t>(256, 0));
    // With nothing released, the next block comes from the end of the file.
    EXPECT_EQ(BlockAlloc(db()), 2);
}

TEST_F(BlockStorageTest, WritesRaiseBlockCountOnlyBeyondIt) {
    GrowTo(3);
    WriteMarked(1);
    EXPECT_EQ(db().header.blockCount, 3u);
    WriteMarked(9);
    EXPECT_EQ(db().header.blockCount, 10u);
    EXPECT_EQ(File().size(), BlockOffset(10));
}

TEST_F(BlockStorageTest, ReleasedBlocksAreReusedOldestFirst) {
    GrowTo(7);
    ASSERT_EQ(BlockFree(db(), 5), 0);
    ASSERT_EQ(BlockFree(db(), 3), 0);
    EXPECT_EQ(db().header.freeCount, 2u);
    EXPECT_EQ(BlockAlloc(db()), 5);
    EXPECT_EQ(BlockAlloc(db()), 3);
    EXPECT_EQ(db().header.freeCount, 0u);
    EXPECT_EQ(BlockAlloc(db()), 7);
    Close();
    const auto file = File();
    EXPECT_EQ(WordAt(file, BlockOffset(0)), 0u);  // the list's stream is empty, its chain one block
    EXPECT_EQ(WordAt(file, BlockOffset(0) + 4), 0u);
}

TEST_F(BlockStorageTest, SixtySecondReleaseGrowsTheListByABlockFromTheEnd) {
    GrowTo(63);
    for (uint32_t block = 1; block <= 61; ++block) ASSERT_EQ(BlockFree(db(), block), 0);
    EXPECT_EQ(db().freeListCursor.nextBlock, 0u);
    ASSERT_EQ(BlockFree(db(), 62), 0);
    EXPECT_EQ(db().header.blockCount, 64u);
    EXPECT_EQ(db().header.freeCount, 62u);

    // Every released block comes back in order; the list's own block never does.
    for (uint32_t block = 1; block <= 62; ++block) ASSERT_EQ(BlockAlloc(db()), block);
    EXPECT_EQ(BlockAlloc(db()), 64);
    Close();
    const RawChain list = ReadRawChain(File(), 0);
    EXPECT_EQ(list.blocks, (std::vector<uint32_t>{0, 63}));
    EXPECT_EQ(WordAt(File(), BlockOffset(63)), 0u);  // links back to block 0
}

TEST_F(BlockStorageTest, ReleasedBlocksSurviveCloseAndReopen) {
    GrowTo(10);
    for (uint32_t block : {8u, 2u, 6u}) ASSERT_EQ(BlockFree(db(), block), 0);
    Reopen();
    EXPECT_EQ(RawFreeList(File()), (std::vector<uint32_t>{8, 2, 6}));
    EXPECT_EQ(BlockAlloc(db()), 8);
    EXPECT_EQ(BlockAlloc(db()), 2);
    EXPECT_EQ(BlockAlloc(db()), 6);
    EXPECT_EQ(BlockAlloc(db()), 10);
}

// The remembered file position spares seeks; a read right after another, and the same block
// again, still land at their own blocks.
TEST_F(UncachedBlockStorageTest, ConsecutiveAndRepeatedReadsLandAtTheirBlocks) {
    GrowTo(7);
    for (uint32_t b = 1; b < 7; ++b) WriteMarked(b);
    uint8_t block[kBlockSize];
    for (const uint32_t b : {4u, 5u, 5u, 3u}) {
        ASSERT_EQ(BlockRead(db(), b, block), 0);
        EXPECT_EQ(block[0], b);
        EXPECT_EQ(block[255], b);
    }
    EXPECT_EQ(db().filePosition, static_cast<int64_t>(BlockOffset(4)));
}

TEST_F(BlockStorageTest, ReadsBeyondTheFileFail) {
    GrowTo(3);
    uint8_t block[kBlockSize];
    EXPECT_EQ(BlockRead(db(), 3, block), -1);
    EXPECT_EQ(BlockRead(db(), 0xFFFFFFFEu, block), -1);
    EXPECT_EQ(BlockRead(db(), kNoBlock, block), -1);
    EXPECT_EQ(BlockRead(db(), 2, block), 0);  // the engine is unharmed
}

// After any failed transfer the next one still lands at its own block's offset.
struct TransferFault {
    const char* name;
    CallKind kind;
    Fault fault;
};

class TransferFaultTest : public UncachedBlockStorageTest, public ::testing::WithParamInterface<TransferFault> {};

TEST_P(TransferFaultTest, NextTransferLandsAtItsBlock) {
    GrowTo(8);
    for (uint32_t block = 1; block < 8; ++block) WriteMarked(block);
    uint8_t block[kBlockSize];
    ASSERT_EQ(BlockRead(db(), 1, block), 0);  // the file stands at block 2: block 4 needs a seek
    const auto& param = GetParam();
    platform::InjectFault(param.kind, 1, param.fault);
    if (param.kind == CallKind::Write) {
        std::vector<uint8_t> bytes(kBlockSize, 0xAA);
        EXPECT_EQ(BlockWrite(db(), 4, bytes.data()), -1);
    } else {
        EXPECT_EQ(BlockRead(db(), 4, block), -1);
    }
    platform::ClearFaults();
    // The retry of the same block is the transfer a stale position would misplace.
    WriteMarked(4);
    ASSERT_EQ(BlockRead(db(), 4, block), 0);
    EXPECT_EQ(block[0], 4);
    EXPECT_EQ(block[255], 4);
    ASSERT_EQ(BlockRead(db(), 5, block), 0);
    EXPECT_EQ(block[0], 5);
    Close();
    const auto file = File();
    for (uint32_t b = 3; b <= 5; ++b) {
        EXPECT_EQ(file[BlockOffset(b)], b);
        EXPECT_EQ(file[BlockOffset(b) + 255], b);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, TransferFaultTest,
                         ::testing::Values(TransferFault{"ShortRead", CallKind::Read, Fault{31, 100}},
                                           TransferFault{"FailedRead", CallKind::Read, Fault{}},
                                           TransferFault{"ShortWrite", CallKind::Write, Fault{31, 100}},
                                           TransferFault{"FailedWrite", CallKind::Write, Fault{}},
                                           TransferFault{"FailedSeek", CallKind::Seek, Fault{}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UncachedBlockStorageTest, FailedGrowthSkipsTheBlockNumber) {
    GrowTo(3);
    platform::InjectFault(CallKind::Write, 1);
    EXPECT_EQ(BlockAlloc(db()), -1);
    EXPECT_EQ(db().header.blockCount, 4u);
    EXPECT_EQ(BlockAlloc(db()), 4);
}

TEST_F(UncachedBlockStorageTest, FailedTakeReadCountsAsEmptyAndKeepsTheList) {
    GrowTo(70);
    // 64 entries: the list's chain has two blocks, so taking one reads from disk.
    for (uint32_t block = 1; block <= 64; ++block) ASSERT_EQ(BlockFree(db(), block), 0);
    ASSERT_EQ(ChainSeek(db(), db().freeListCursor, 250), 0);  // stand in the second block
    platform::InjectFault(CallKind::Read, 1);
    const uint32_t grown = db().header.blockCount;
    EXPECT_EQ(BlockAlloc(db()), grown);
    EXPECT_EQ(db().header.freeCount, 64u);
    EXPECT_EQ(BlockAlloc(db()), 1);
}

// Takes move past entries; before the list grows (and at close) its stream is rewritten to
// what rewriting it at every take leaves: the listed entries from the front, then, where taken
// entries stood, copies of the last entry the list held.
TEST_F(BlockStorageTest, TakenEntriesLeaveTheBytesOfAListRewrittenAtEveryTake) {
    GrowTo(90);
    for (uint32_t block = 10; block < 80; ++block) ASSERT_EQ(BlockFree(db(), block), 0);  // two list blocks
    for (uint32_t block = 10; block < 13; ++block) ASSERT_EQ(BlockAlloc(db()), block);
    ASSERT_EQ(BlockFree(db(), 5), 0);
    for (uint32_t block = 13; block < 15; ++block) ASSERT_EQ(BlockAlloc(db()), block);
    Close();
    const auto file = File();
    const RawChain list = ReadRawChain(file, 0);
    ASSERT_EQ(list.blocks.size(), 2u);
    std::vector<uint32_t> expected;
    for (uint32_t block = 15; block < 80; ++block) expected.push_back(block);
    expected.push_back(5);
    EXPECT_EQ(RawFreeList(file), expected);
    // Behind the 66 listed entries: 5 copied twice by the last two takes, then 79, copied by the
    // three takes before the release of 5 and not overwritten since.
    std::vector<uint32_t> behind;
    for (uint32_t entry = 66; entry < 70; ++entry) {
        const uint32_t offset = 4 * entry;
        const size_t at = BlockOffset(list.blocks[offset / 248]) + 8 + offset % 248;
        behind.push_back(WordAt(file, at));
    }
    EXPECT_EQ(behind, (std::vector<uint32_t>{5, 5, 79, 79}));
}

// A rewrite that fails part-way may leave an entry twice in the list: the list is given up
// rather than risk handing out a block twice.
TEST_F(UncachedBlockStorageTest, FailedListRewriteGivesTheListUp) {
    GrowTo(80);
    const uint32_t grown = db().header.blockCount;
    for (int which = 0; which < 2; ++which) {
        for (uint32_t b = 1; b <= 70; ++b) ASSERT_EQ(BlockFree(db(), b), 0);
        ASSERT_EQ(BlockAlloc(db()), 1);
        ASSERT_EQ(BlockAlloc(db()), 2);
        if (which == 0) {
            platform::InjectFault(CallKind::Allocate, 1);  // the rewrite's work buffer
        } else {
            platform::InjectFault(CallKind::Write, 1);  // its first block write
        }
        EXPECT_EQ(BlockFree(db(), 75), -1);
        platform::ClearFaults();
        // Nothing of the list may come back, whatever was moved before the failure.
        EXPECT_EQ(db().header.freeCount, 0u);
        EXPECT_GE(BlockAlloc(db()), grown);
        // The list works again from empty.
        ASSERT_EQ(BlockFree(db(), 75), 0);
        ASSERT_EQ(BlockFree(db(), 76), 0);
        EXPECT_EQ(BlockAlloc(db()), 75);
        EXPECT_EQ(BlockAlloc(db()), 76);
    }
}

TEST_F(UncachedBlockStorageTest, ReleaseFailsWhenTheListCannotGrow) {
    GrowTo(63);
    for (uint32_t block = 1; block <= 61; ++block) ASSERT_EQ(BlockFree(db(), block), 0);
    platform::InjectFault(CallKind::Write, 1);  // the list's new block cannot be written
    EXPECT_EQ(BlockFree(db(), 62), -1);
    EXPECT_EQ(db().header.freeCount, 61u);
    EXPECT_EQ(db().freeListBusy, 0);
}

TEST_F(BlockStorageTest, ReleaseRefusesBlocksThatCannotBeListed) {
    GrowTo(4);
    EXPECT_EQ(BlockFree(db(), 0), -1);
    EXPECT_EQ(BlockFree(db(), 4), -1);
    EXPECT_EQ(db().header.freeCount, 0u);
}

TEST_F(BlockStorageTest, DamagedListEntriesAreNeverHandedOut) {
    GrowTo(5);
    ASSERT_EQ(BlockFree(db(), 3), 0);
    // Corrupt the entry in the list's buffer: a block the file never had.
    SetBlockWord(db().freeListCursor.buffer, 0, 4000);
    EXPECT_EQ(BlockAlloc(db()), 5);
    EXPECT_EQ(db().header.freeCount, 0u);
}

TEST_F(BlockStorageTest, ChainCreateOpenAndClose) {
    ChainCursor cursor;
    ASSERT_EQ(ChainCreate(db(), cursor), 1);
    EXPECT_EQ(cursor.firstBlock, 1u);
    EXPECT_EQ(cursor.currentBlock, 1u);
    EXPECT_EQ(cursor.length, 0u);
    const std::vector<uint8_t> text = Pattern(40);
    ASSERT_EQ(ChainWrite(db(), cursor, text.data(), 40), 40);
    ChainClose(db(), cursor);
    EXPECT_EQ(cursor.dirty, 0u);
    EXPECT_EQ(WordAt(File(), BlockOffset(1)), 40u);

    ChainCursor reopened;
    ASSERT_EQ(ChainOpen(db(), reopened, 1), 0);
    EXPECT_EQ(reopened.length, 40u);
    EXPECT_EQ(reopened.fill, 40);
    EXPECT_EQ(reopened.position, 0u);
    EXPECT_EQ(std::vector<uint8_t>(reopened.buffer, reopened.buffer + 40), text);
    EXPECT_EQ(ChainOpen(db(), reopened, 50), -1);  // beyond the file
}

TEST_F(UncachedBlockStorageTest, ChainCloseWritesNothingItCouldNotRead) {
    ChainCursor cursor;
    ASSERT_EQ(ChainCreate(db(), cursor), 1);
    cursor.length = 99;
    platform::ResetCallCounts();
    platform::InjectFault(CallKind::Read, 1);
    ChainClose(db(), cursor);
    EXPECT_EQ(platform::CallCount(CallKind::Write), 0u);
    EXPECT_EQ(WordAt(File(), BlockOffset(1)), 0u);
}

TEST_F(BlockStorageTest, ReadOnlyCloseWritesNothing) {
    Reopen(ModeReadOnly);
    const auto before = File();
    platform::ResetCallCounts();
    ChainClose(db(), db().freeListCursor);
    EXPECT_EQ(platform::CallCount(CallKind::Write), 0u);
    EXPECT_EQ(File(), before);
}

}  // namespace

#include "hdb/chain.h"

#include <gtest/gtest.h>

#include <vector>

#include "hdb/block_io.h"
#include "hdb/free_list.h"
#include "hdb/database_record.h"
#include "hdb/node_cache.h"
#include "hdb_test_support.h"
#include "platform/testing/fault_injection.h"

using namespace hdb;

namespace {

using namespace hdb_test;
using platform::CallKind;
using platform::Fault;

// The chain's tests run without a block cache: each block read or write is then one transfer of
// the file, so a test can fail exactly the transfer it means. The cached path is the engine's
// everywhere else, and its files are compared with uncached ones byte for byte.
class ChainTest : public DatabaseTest {
    CacheLimitScope uncached_{0};

protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        ASSERT_GE(ChainCreate(db(), chain_), 0);
    }
    // A chain holding `bytes` written from offset 0.
    void Fill(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(ChainWrite(db(), chain_, bytes.data(), static_cast<uint32_t>(bytes.size())),
                  static_cast<int32_t>(bytes.size()));
    }
    std::vector<uint8_t> ReadAll() {
        std::vector<uint8_t> bytes(chain_.length + 500);
        EXPECT_EQ(ChainSeek(db(), chain_, 0), 0);
        const int32_t got = ChainRead(db(), chain_, bytes.data(), static_cast<uint32_t>(bytes.size()));
        EXPECT_GE(got, 0);
        bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return bytes;
    }
    // The chain's blocks as linked on disk, after writing back the cursor's block and length.
    RawChain OnDisk() {
        ChainClose(db(), chain_);
        return ReadRawChain(File(), chain_.firstBlock);
    }
    ChainCursor chain_{};
};

TEST_F(ChainTest, NewChainIsOneEmptyBlock) {
    EXPECT_EQ(chain_.length, 0u);
    EXPECT_EQ(chain_.nextBlock, 0u);
    const RawChain raw = OnDisk();
    EXPECT_EQ(raw.blocks.size(), 1u);
    EXPECT_EQ(WordAt(File(), BlockOffset(chain_.firstBlock)), 0u);
}

TEST_F(ChainTest, WriteEndingAtABlockEndLinksTheNextBlock) {
    Fill(Pattern(248));
    EXPECT_EQ(chain_.length, 248u);
    EXPECT_NE(chain_.currentBlock, chain_.firstBlock);
    EXPECT_EQ(chain_.offset, 0);
    EXPECT_EQ(chain_.fill, 0);
    EXPECT_EQ(chain_.position, 248u);
    EXPECT_EQ(OnDisk().blocks.size(), 2u);
}

TEST_F(ChainTest, BlockCountFollowsTheStreamLength) {
    struct Case {
        uint32_t length;
        size_t blocks;
    };
    for (const Case c : {Case{0, 1}, Case{1, 1}, Case{247, 1}, Case{248, 2}, Case{495, 2}, Case{496, 3}, Case{1000, 5}}) {
        ChainCursor cursor;
        ASSERT_GE(ChainCreate(db(), cursor), 0);
        const auto bytes = Pattern(c.length);
        ASSERT_EQ(ChainWrite(db(), cursor, bytes.data(), c.length), static_cast<int32_t>(c.length));
        ChainClose(db(), cursor);
        const RawChain raw = ReadRawChain(File(), cursor.firstBlock);
        EXPECT_EQ(raw.blocks.size(), c.blocks) << c.length;
        EXPECT_EQ(raw.stream, bytes) << c.length;
    }
}

TEST_F(ChainTest, ThreeHundredBytesLinkTwoBlocks) {
    const auto bytes = Pattern(300);
    Fill(bytes);
    EXPECT_EQ(chain_.length, 300u);
    const RawChain raw = OnDisk();
    ASSERT_EQ(raw.blocks.size(), 2u);
    const auto file = File();
    EXPECT_EQ(WordAt(file, BlockOffset(raw.blocks[0])), 300u);
    EXPECT_EQ(WordAt(file, BlockOffset(raw.blocks[0]) + 4), raw.blocks[1]);
    EXPECT_EQ(WordAt(file, BlockOffset(raw.blocks[1])), raw.blocks[0]);
    EXPECT_EQ(WordAt(file, BlockOffset(raw.blocks[1]) + 4), 0u);
    EXPECT_EQ(raw.stream, bytes);
}

TEST_F(ChainTest, OverwriteInTheMiddleKeepsTheLength) {
    Fill(Pattern(700));
    ASSERT_EQ(ChainSeek(db(), chain_, 240), 0);
    const std::vector<uint8_t> patch(20, 0xEE);
    ASSERT_EQ(ChainWrite(db(), chain_, patch.data(), 20), 20);
    EXPECT_EQ(chain_.length, 700u);
    auto expected = Pattern(700);
    std::copy(patch.begin(), patch.end(), expected.begin() + 240);
    EXPECT_EQ(ReadAll(), expected);
    EXPECT_EQ(OnDisk().blocks.size(), 3u);
}

TEST_F(ChainTest, SeekStopsAtTheLengthAndSkipsItsOwnPosition) {
    Fill(Pattern(300));
    ASSERT_EQ(ChainSeek(db(), chain_, 5000), 0);
    EXPECT_EQ(chain_.position, 300u);
    ASSERT_EQ(ChainSeek(db(), chain_, 10), 0);
    const uint8_t byte = 1;
    ASSERT_EQ(ChainWrite(db(), chain_, &byte, 1), 1);
    ASSERT_EQ(chain_.dirty, 1u);
    platform::ResetCallCounts();
    EXPECT_EQ(ChainSeek(db(), chain_, 11), 0);
    EXPECT_EQ(chain_.dirty, 1u);
    EXPECT_EQ(platform::CallCount(CallKind::Read) + platform::CallCount(CallKind::Write), 0u);
}

TEST_F(ChainTest, ReadStopsAtTheEnd) {
    const auto bytes = Pattern(300);
    Fill(bytes);
    ASSERT_EQ(ChainSeek(db(), chain_, 250), 0);
    std::vector<uint8_t> out(100);
    EXPECT_EQ(ChainRead(db(), chain_, out.data(), 100), 50);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 50, bytes.begin() + 250));
    EXPECT_EQ(ChainRead(db(), chain_, out.data(), 100), 0);
}

TEST_F(ChainTest, SeeksBackAndForthLandOnTheirBytes) {
    const auto bytes = Pattern(248 * 10);
    Fill(bytes);  // places 0..10
    std::vector<uint8_t> out(4);
    for (const uint32_t target : {248u * 9 + 5, 248u + 3, 248u * 5, 248u * 3, 2u, 248u * 10 - 4}) {
        ASSERT_EQ(ChainSeek(db(), chain_, target), 0) << target;
        ASSERT_EQ(ChainRead(db(), chain_, out.data(), 4), 4) << target;
        EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + target)) << target;
    }
}

// Opening a gap moves the tail by exactly delta, in loads when it is long.
struct GapCase {
    uint32_t length;
    uint32_t at;
    int32_t delta;
};

class ChainGapTest : public ChainTest, public ::testing::WithParamInterface<GapCase> {};

TEST_P(ChainGapTest, OpensAGap) {
    const GapCase c = GetParam();
    const auto bytes = Pattern(c.length);
    Fill(bytes);
    ASSERT_EQ(ChainShift(db(), chain_, c.at, c.delta), 0);
    const uint32_t grown = c.length + static_cast<uint32_t>(c.delta);
    EXPECT_EQ(chain_.length, grown);
    const auto after = ReadAll();
    ASSERT_EQ(after.size(), grown);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + c.at, after.begin()));
    EXPECT_TRUE(std::equal(bytes.begin() + c.at, bytes.end(), after.begin() + c.at + c.delta));
    const RawChain raw = OnDisk();
    EXPECT_EQ(raw.stream, after);
    EXPECT_EQ(raw.blocks.size(), grown / 248 + 1);
}

INSTANTIATE_TEST_SUITE_P(Shifts, ChainGapTest,
                         ::testing::Values(GapCase{600, 100, 80},       // one load
                                           GapCase{40000, 100, 80},     // the tail needs two loads
                                           GapCase{95000, 7, 80},       // several loads
                                           GapCase{30020, 100, 80},     // the first load ends exactly
                                           GapCase{59940, 100, 80},     // the second load ends exactly
                                           GapCase{600, 600, 80},       // at the end: an append
                                           GapCase{70000, 100, 40000},  // wider than one pass
                                           GapCase{0, 0, 248}));

TEST_F(ChainTest, ClosingAGapKeepsTheBlocks) {
    const std::vector<uint8_t> bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    Fill(bytes);
    ASSERT_EQ(ChainShift(db(), chain_, 4, -4), 0);
    EXPECT_EQ(chain_.length, 8u);
    EXPECT_EQ(ReadAll(), std::vector<uint8_t>(bytes.begin() + 4, bytes.end()));
    EXPECT_EQ(OnDisk().blocks.size(), 1u);
}

TEST_F(ChainTest, ClosingALongGapStopsReadsAtTheNewEnd) {
    const auto bytes = Pattern(70000);
    Fill(bytes);
    ASSERT_EQ(ChainShift(db(), chain_, 40000, -39000), 0);
    EXPECT_EQ(chain_.length, 31000u);
    std::vector<uint8_t> expected(bytes.begin(), bytes.begin() + 1000);
    expected.insert(expected.end(), bytes.begin() + 40000, bytes.end());
    EXPECT_EQ(ReadAll(), expected);  // the spare blocks behind the end are not read
    EXPECT_LE(chain_.position, chain_.length);
    // Writing at the new end reuses the spare blocks instead of allocating.
    const uint32_t blocks = db().header.blockCount;
    ASSERT_EQ(ChainSeek(db(), chain_, chain_.length), 0);
    const auto more = Pattern(5000, 9);
    ASSERT_EQ(ChainWrite(db(), chain_, more.data(), 5000), 5000);
    EXPECT_EQ(db().header.blockCount, blocks);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(ReadAll(), expected);
    const RawChain raw = OnDisk();
    EXPECT_EQ(raw.blocks.size(), 70000 / 248 + 1);
}

TEST_F(ChainTest, ShiftRefusesImpossibleRanges) {
    Fill(Pattern(100));
    EXPECT_EQ(ChainShift(db(), chain_, 101, 4), -1);
    EXPECT_EQ(ChainShift(db(), chain_, 3, -4), -1);
    EXPECT_EQ(ChainShift(db(), chain_, 50, 0), 0);
    EXPECT_EQ(chain_.length, 100u);
}

TEST_F(ChainTest, TruncateReleasesTheRestInChainOrder) {
    Fill(Pattern(600));  // three blocks
    const RawChain before = OnDisk();
    ASSERT_EQ(before.blocks.size(), 3u);
    chain_.length = 100;
    ASSERT_EQ(ChainTruncate(db(), chain_, 1), 0);
    EXPECT_EQ(db().header.freeCount, 2u);
    Close();
    const auto file = File();
    EXPECT_EQ(WordAt(file, BlockOffset(before.blocks[0])), 100u);
    EXPECT_EQ(WordAt(file, BlockOffset(before.blocks[0]) + 4), 0u);
    std::vector<uint8_t> released(256, 0);
    PutWord(released, 0, kReleasedBlockMark);
    for (int i = 1; i < 3; ++i) {
        const size_t at = BlockOffset(before.blocks[i]);
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + 256),
                  released);
    }
    EXPECT_EQ(RawFreeList(file), (std::vector<uint32_t>{before.blocks[1], before.blocks[2]}));
}

TEST_F(ChainTest, TruncateKeepingBlocksCutsAfterTheLastKept) {
    Fill(Pattern(1000));  // five blocks
    const RawChain before = OnDisk();
    ASSERT_EQ(ChainTruncate(db(), chain_, 3), 0);
    Close();
    const auto file = File();
    EXPECT_EQ(WordAt(file, BlockOffset(before.blocks[2]) + 4), 0u);
    EXPECT_EQ(ReadRawChain(file, before.blocks[0]).blocks,
              (std::vector<uint32_t>{before.blocks[0], before.blocks[1], before.blocks[2]}));
    EXPECT_EQ(RawFreeList(file), (std::vector<uint32_t>{before.blocks[3], before.blocks[4]}));
}

TEST_F(ChainTest, TruncateToNothingReleasesEveryBlock) {
    Fill(Pattern(300));
    const RawChain before = OnDisk();
    ASSERT_EQ(ChainTruncate(db(), chain_, 0), 0);
    EXPECT_EQ(db().header.freeCount, 2u);
    Close();
    EXPECT_EQ(RawFreeList(File()), before.blocks);
}

// ---- Failures: the operation reports -1 and the cursor stays usable ----

TEST_F(ChainTest, FailedAllocationFailsTheWriteAndKeepsTheBytesWritten) {
    const auto bytes = Pattern(400);
    platform::InjectFault(CallKind::Write, 1);  // growing the file for the second block
    EXPECT_EQ(ChainWrite(db(), chain_, bytes.data(), 400), -1);
    platform::ClearFaults();
    EXPECT_EQ(chain_.position, 248u);
    EXPECT_EQ(chain_.length, 248u);
    // The cursor is still whole: the rest can be written and everything reads back.
    ASSERT_EQ(ChainWrite(db(), chain_, bytes.data() + 248, 152), 152);
    EXPECT_EQ(ReadAll(), bytes);
    EXPECT_EQ(OnDisk().stream, bytes);
}

TEST_F(ChainTest, FailedFlushOrStepFailsTheWrite) {
    Fill(Pattern(600));
    ASSERT_EQ(ChainSeek(db(), chain_, 0), 0);
    for (CallKind kind : {CallKind::Write, CallKind::Read}) {
        platform::InjectFault(kind, 1);
        const auto patch = Pattern(300, 5);
        EXPECT_EQ(ChainWrite(db(), chain_, patch.data(), 300), -1);
        platform::ClearFaults();
        EXPECT_EQ(chain_.currentBlock, chain_.firstBlock);
        EXPECT_EQ(chain_.offset, 248);
        EXPECT_EQ(chain_.position, 248u);
        ASSERT_EQ(ChainSeek(db(), chain_, 0), 0);
    }
    auto expected = Pattern(600);
    const auto patch = Pattern(300, 5);
    std::copy(patch.begin(), patch.begin() + 248, expected.begin());
    EXPECT_EQ(ReadAll(), expected);
}

TEST_F(ChainTest, FailedReadLeavesTheCursorWhereItWas) {
    const auto bytes = Pattern(600);
    Fill(bytes);
    ASSERT_EQ(ChainSeek(db(), chain_, 200), 0);
    std::vector<uint8_t> out(100);
    platform::InjectFault(CallKind::Read, 1, Fault{31, 10});
    EXPECT_EQ(ChainRead(db(), chain_, out.data(), 100), -1);
    platform::ClearFaults();
    EXPECT_EQ(chain_.position, 248u);
    ASSERT_EQ(ChainRead(db(), chain_, out.data(), 100), 100);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + 248));
}

TEST_F(ChainTest, FailedSeekStopsAtABlockBoundary) {
    const auto bytes = Pattern(248 * 6);
    Fill(bytes);
    std::vector<uint8_t> out(10);
    // Places the cursor has seen are reached in one read; when it fails, the cursor stays.
    ASSERT_EQ(ChainSeek(db(), chain_, 10), 0);
    platform::InjectFault(CallKind::Read, 1);
    EXPECT_EQ(ChainSeek(db(), chain_, 248 * 5 + 1), -1);
    platform::ClearFaults();
    EXPECT_EQ(chain_.position, 10u);
    ASSERT_EQ(ChainRead(db(), chain_, out.data(), 10), 10);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + 10));

    // A walk over the links that fails part-way stops at the start of the last block reached.
    ForgetKey(db(), chain_.firstBlock);
    ASSERT_EQ(ChainSeek(db(), chain_, 10), 0);
    platform::InjectFault(CallKind::Read, 3);  // the third step forward
    EXPECT_EQ(ChainSeek(db(), chain_, 248 * 5 + 1), -1);
    platform::ClearFaults();
    EXPECT_EQ(chain_.position, 248u * 2);
    EXPECT_EQ(chain_.offset, 0);
    ASSERT_EQ(ChainRead(db(), chain_, out.data(), 10), 10);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + 248 * 2));
}

TEST_F(ChainTest, ShiftWithoutItsWorkBufferChangesNothing) {
    const auto bytes = Pattern(600);
    Fill(bytes);
    platform::InjectFault(CallKind::Allocate, 1);
    EXPECT_EQ(ChainShift(db(), chain_, 100, 80), -1);
    platform::ClearFaults();
    EXPECT_EQ(chain_.length, 600u);
    EXPECT_EQ(ReadAll(), bytes);
}

TEST_F(ChainTest, FailedShiftReportsTheFailure) {
    Fill(Pattern(40000));
    for (CallKind kind : {CallKind::Read, CallKind::Write, CallKind::Seek}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ASSERT_EQ(ChainSeek(db(), chain_, 0), 0);
        db().filePosition = kUnknownFilePosition;  // so the shift's first transfer seeks
        platform::InjectFault(kind, 2);
        EXPECT_EQ(ChainShift(db(), chain_, 100, 80), -1);
        platform::ClearFaults();
        // Whatever moved, the cursor still reads its whole stream.
        EXPECT_EQ(ReadAll().size(), chain_.length);
    }
}

TEST_F(ChainTest, FailedTruncateReadReleasesNothing) {
    Fill(Pattern(600));
    ChainClose(db(), chain_);
    const auto before = File();
    platform::InjectFault(CallKind::Read, 2);
    EXPECT_EQ(ChainTruncate(db(), chain_, 1), -1);
    platform::ClearFaults();
    EXPECT_EQ(db().header.freeCount, 0u);
    EXPECT_EQ(File(), before);
}

// ---- Damaged files: every case fails cleanly and changes nothing ----

struct DamageCase {
    const char* name;
    // Shapes blocks 1.. of a 6-block file; block 1 is the chain's head.
    void (*shape)(std::vector<uint8_t>& image);
};

class DamagedChainTest : public DatabaseTest, public ::testing::WithParamInterface<DamageCase> {
protected:
    void SetUp() override {
        auto image = DatabaseImage(6);
        for (uint32_t block = 1; block < 6; ++block)
            std::fill(image.begin() + static_cast<long>(BlockOffset(block)) + 8,
                      image.begin() + static_cast<long>(BlockOffset(block)) + 256, static_cast<uint8_t>(block));
        GetParam().shape(image);
        WriteBytes(path_, image);
        DatabaseTest::SetUp();
        ASSERT_GE(handle_, 0);
        ASSERT_EQ(ChainOpen(db(), chain_, 1), 0);
        // Leave block 5 free so that nothing needs to grow during the test.
        before_ = File();
    }
    ChainCursor chain_{};
    std::vector<uint8_t> before_;
};

TEST_P(DamagedChainTest, FailsCleanly) {
    std::vector<uint8_t> out(3000);
    const int32_t got = ChainRead(db(), chain_, out.data(), 3000);
    EXPECT_LE(got, 248 * 4);
    EXPECT_NE(ChainSeek(db(), chain_, 2000), 0);
    EXPECT_EQ(ChainTruncate(db(), chain_, 0), -1);
    EXPECT_EQ(ChainTruncate(db(), chain_, 1), -1);
    EXPECT_EQ(db().header.freeCount, 0u);
    EXPECT_EQ(File(), before_);
    EXPECT_EQ(ChainShift(db(), chain_, 0, 10), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedChainTest,
    ::testing::Values(
        DamageCase{"LinkBeyondTheFile", [](auto& image) { Link(image, 1, 3000, 2), Link(image, 2, 1, 77); }},
        DamageCase{"LinkToBlockNone", [](auto& image) { Link(image, 1, 3000, 0xFFFFFFFFu); }},
        DamageCase{"LoopToTheHead", [](auto& image) { Link(image, 1, 3000, 2), Link(image, 2, 1, 1); }},
        DamageCase{"LoopInTheMiddle",
                   [](auto& image) { Link(image, 1, 3000, 2), Link(image, 2, 1, 3), Link(image, 3, 2, 2); }},
        DamageCase{"ReleasedBlockInside",
                   [](auto& image) { Link(image, 1, 3000, 2), Link(image, 2, kReleasedBlockMark, 0); }},
        DamageCase{"BlockOfAnotherChain",
                   [](auto& image) { Link(image, 1, 3000, 2), Link(image, 2, 4, 0); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A length beyond the chain: reads end with the chain, nothing walks past its last block.
using ChainLengthDamageTest = DatabaseTest;

TEST_F(ChainLengthDamageTest, StreamLengthBeyondTheChain) {
    Close();
    auto image = DatabaseImage(4);
    Link(image, 1, 5000, 2);
    Link(image, 2, 1, 0);
    WriteBytes(path_, image);
    ASSERT_GE(Open(ModeReadWrite), 0);
    ChainCursor chain{};
    ASSERT_EQ(ChainOpen(db(), chain, 1), 0);
    std::vector<uint8_t> out(5000);
    const int32_t got = ChainRead(db(), chain, out.data(), 5000);
    EXPECT_GE(got, 248);
    EXPECT_LT(got, 496);
    EXPECT_EQ(ChainSeek(db(), chain, 4000), -1);
    EXPECT_EQ(ChainShift(db(), chain, 0, 10), -1);
    EXPECT_EQ(ChainShift(db(), chain, 100, -10), 0);  // moves what there is, never past the chain
    EXPECT_EQ(ChainTruncate(db(), chain, 1), 0);
    EXPECT_EQ(db().header.freeCount, 1u);
}

}  // namespace

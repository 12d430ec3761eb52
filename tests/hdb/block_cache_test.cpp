// The block cache: what the engine reads is what it last wrote, whatever is cached, evicted or
// read with its neighbours; and a transfer that fails is never forgotten: the database refuses
// further changes, its close reports the failure, and the file stays marked as open by a writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hdb/block_cache.h"
#include "hdb/block_io.h"
#include "hdb/free_list.h"
#include "hdb_test_support.h"
#include "platform/testing/fault_injection.h"

using namespace hdb;

namespace {

using namespace hdb_test;
using platform::CallKind;

constexpr size_t kOpenForWrite = 68;

class BlockCacheTest : public KeyTest {
protected:
    void GrowTo(uint32_t count) {
        while (db().header.blockCount < count) ASSERT_GE(BlockAlloc(db()), 0);
    }
    std::vector<uint8_t> Marked(uint32_t block, uint8_t mark) {
        std::vector<uint8_t> bytes(kBlockSize, mark);
        bytes[0] = static_cast<uint8_t>(block);
        return bytes;
    }
    std::vector<uint8_t> ReadBlock(uint32_t block) {
        std::vector<uint8_t> bytes(kBlockSize);
        EXPECT_EQ(BlockRead(db(), block, bytes.data()), 0) << block;
        return bytes;
    }
    // `count` keys under the root, each with a value; the first failure's result is returned.
    int64_t CreateKeys(int count, std::vector<uint32_t>& keys) {
        for (int i = 0; i < count; ++i) {
            const int64_t key = manager_.HdbCreateKey(handle_, 1, ("key " + std::to_string(i)).c_str());
            if (key < 0) return key;
            const auto value = Pattern(300, static_cast<uint32_t>(i));
            const int32_t written =
                manager_.HdbWriteValue(handle_, static_cast<uint32_t>(key), value.data(), static_cast<uint32_t>(value.size()));
            manager_.HdbCloseKey(handle_, static_cast<uint32_t>(key));
            keys.push_back(static_cast<uint32_t>(key));
            if (written < 0) return written;
        }
        return 0;
    }
};

// A missed block is read with its neighbours; a neighbour written since (and not yet in the
// file) keeps its new bytes, in the cache and then in the file.
TEST_F(BlockCacheTest, NeighboursReadFromTheFileNeverReplaceNewerBytes) {
    GrowTo(40);
    for (uint32_t b = 16; b < 40; ++b) ASSERT_EQ(BlockWrite(db(), b, Marked(b, 1).data()), 0);
    Reopen();
    ASSERT_EQ(BlockWrite(db(), 33, Marked(33, 2).data()), 0);
    EXPECT_EQ(ReadBlock(32), Marked(32, 1));
    EXPECT_EQ(ReadBlock(33), Marked(33, 2));
    EXPECT_EQ(ReadBlock(34), Marked(34, 1));
    Close();
    const auto file = File();
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + BlockOffset(33), file.begin() + BlockOffset(34)), Marked(33, 2));
}

// Under a small limit the cache writes blocks back to make room. When such a write-back fails,
// the operation that needed the room fails, nothing changes the database any more, what was
// written before still reads back, and the close reports the failure.
TEST_F(BlockCacheTest, FailedWriteBackStopsChangesAndIsReportedAtClose) {
    Close();
    const CacheLimitScope small(8);
    ASSERT_GE(Open(ModeReadWrite), 0);
    Root();
    platform::InjectFault(CallKind::Write, 1);
    std::vector<uint32_t> keys;
    EXPECT_EQ(CreateKeys(100, keys), -1) << "some write-back must have been needed";
    platform::ClearFaults();
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(db().transferFailed, 1);

    EXPECT_EQ(manager_.HdbCreateKey(handle_, 1, "later"), -1);
    const uint8_t byte = 7;
    EXPECT_EQ(manager_.HdbWriteValue(handle_, keys[0], &byte, 1), -1);
    EXPECT_EQ(manager_.HdbClearValue(handle_, keys[0]), -1);
    EXPECT_EQ(manager_.HdbDeleteKey(handle_, keys[0]), -1);
    EXPECT_EQ(manager_.HdbRenameKey(handle_, keys[0], "renamed"), -1);
    // Keys whose creation completed read back whole.
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        EXPECT_EQ(Name(keys[i]), "key " + std::to_string(i));
        EXPECT_EQ(Value(keys[i]), Pattern(300, static_cast<uint32_t>(i)));
    }

    EXPECT_EQ(manager_.CloseDatabase(handle_), -1);
    handle_ = -1;
    const auto file = File();
    EXPECT_EQ(WordAt(file, kOpenForWrite), 1u) << "the file must still say that a writer had it open";
    EXPECT_EQ(WordAt(file, 52), 1u) << "nor claim the counters of a session that did not reach it";
}

// A block that cannot be read fails its operation. A database open for writing then refuses
// changes (what failed may have been half of one); a read-only one just goes on.
TEST_F(BlockCacheTest, FailedReadStopsChangesOnlyOfAWritableDatabase) {
    Root();
    std::vector<uint32_t> keys;
    ASSERT_EQ(CreateKeys(30, keys), 0);
    const uint32_t far = keys.back();  // beyond the blocks the open reads with the free list
    ASSERT_GE(far, 32u);

    Reopen(ModeReadOnly);
    platform::InjectFault(CallKind::Read, 1);
    EXPECT_EQ(Name(far), "<none>");
    platform::ClearFaults();
    EXPECT_EQ(Name(far), "key 29");
    EXPECT_EQ(manager_.CloseDatabase(handle_), 0);
    handle_ = -1;

    ASSERT_GE(Open(ModeReadWrite), 0);
    platform::InjectFault(CallKind::Read, 1);
    EXPECT_EQ(Name(far), "<none>");
    platform::ClearFaults();
    EXPECT_EQ(Name(far), "key 29");
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 1, "later"), -1);
    EXPECT_EQ(manager_.CloseDatabase(handle_), -1);
    handle_ = -1;
    EXPECT_EQ(WordAt(File(), kOpenForWrite), 1u);
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hdb/database_manager.h"
#include "hdb/key_node.h"
#include "hdb_test_support.h"
#include "platform/testing/fault_injection.h"

using namespace hdb;

namespace {

using namespace hdb_test;
using platform::CallKind;

class ValueOperationsTest : public KeyTest {
protected:
    void SetUp() override {
        KeyTest::SetUp();
        Root();
        key_ = Create(1, "Setting");
    }
    int32_t Write(const std::string& text) {
        return manager_.HdbWriteValue(handle_, key_, text.data(), static_cast<uint32_t>(text.size()));
    }
    std::string Read(uint32_t count) {
        std::string text(count, '\0');
        const int32_t got = manager_.HdbReadValue(handle_, key_, text.data(), count);
        text.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return text;
    }
    uint32_t key_ = 0;
};

TEST_F(ValueOperationsTest, WriteAppendOverwriteRead) {
    EXPECT_EQ(Write("hello"), 5);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 5u);
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 5u);
    EXPECT_EQ(Write("abc"), 3);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 8u);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 0), 0);
    EXPECT_EQ(Write("HE"), 2);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 8u);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 0), 0);
    EXPECT_EQ(Read(20), "HElloabc");
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 8u);
    EXPECT_EQ(Read(20), "");
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 3), 0);
    EXPECT_EQ(Read(2), "lo");
    manager_.HdbCloseKey(handle_, key_);
    Reopen();
    EXPECT_EQ(Read(100), "HElloabc");  // the position starts at 0 again
    uint32_t valueLength = 0;
    ASSERT_EQ(manager_.HdbGetKeyInfo(handle_, key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, &valueLength),
              0);
    EXPECT_EQ(valueLength, 8u);
}

TEST_F(ValueOperationsTest, WritingReadingAndSeekingKeepTheKeyOpen) {
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 0u);
    EXPECT_EQ(NodeFind(db(), key_), nullptr);  // telling opens nothing
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 0u);
    EXPECT_EQ(NodeFind(db(), key_), nullptr);  // nor does measuring
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 0), 0);
    EXPECT_NE(NodeFind(db(), key_), nullptr);
    manager_.HdbCloseKey(handle_, key_);
    ASSERT_EQ(Write("x"), 1);
    EXPECT_NE(NodeFind(db(), key_), nullptr);
    manager_.HdbCloseKey(handle_, key_);
    ASSERT_EQ(manager_.HdbClearValue(handle_, key_), 0);
    EXPECT_EQ(NodeFind(db(), key_), nullptr);  // clearing follows the temporary-open rule
}

TEST_F(ValueOperationsTest, MultiBlockValueRoundTripsAndClearGivesBlocksBack) {
    const uint32_t child = Create(key_, "Child");
    const auto bytes = Pattern(5000);
    ASSERT_EQ(manager_.HdbWriteValue(handle_, key_, bytes.data(), 5000), 5000);
    manager_.HdbCloseKey(handle_, key_);
    Reopen();
    EXPECT_EQ(Value(key_), bytes);
    const size_t blocks = ReadRawChain(File(), key_).blocks.size();
    ASSERT_EQ(blocks, (115u + 5000u) / 248 + 1);
    ASSERT_EQ(manager_.HdbOpenKey(handle_, key_), 0);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 100), 0);
    ASSERT_EQ(manager_.HdbClearValue(handle_, key_), 0);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 0u);
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 0u);
    EXPECT_EQ(db().header.freeCount, blocks - 1);
    // Header, name and list are intact, and the key takes a new value.
    EXPECT_EQ(Name(key_), "Setting");
    EXPECT_EQ(manager_.HdbFindKey(handle_, key_, "Child"), child);
    EXPECT_EQ(Write("new"), 3);
    manager_.HdbCloseKey(handle_, key_);
    Reopen();
    EXPECT_EQ(Value(key_), (std::vector<uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(ReadRawChain(File(), key_).blocks.size(), 1u);
}

TEST_F(ValueOperationsTest, ClearKeepsTheBlocksOfALongHeader) {
    const uint32_t key = Create(1, std::string(300, 'h'));  // value offset 409: two blocks
    SetValue(key, Pattern(1000));
    ASSERT_EQ(manager_.HdbClearValue(handle_, key), 0);
    Close();
    const auto file = File();
    const RawChain chain = ReadRawChain(file, key);
    EXPECT_EQ(chain.blocks.size(), 2u);
    EXPECT_EQ(WordAt(file, BlockOffset(key)), 409u);
    EXPECT_EQ(WordAt(file, 64), (409u + 1000u) / 248 + 1 - 2);
}

TEST_F(ValueOperationsTest, ValueSurvivesTheListGrowing) {
    const auto bytes = Pattern(1000);
    ASSERT_EQ(manager_.HdbWriteValue(handle_, key_, bytes.data(), 1000), 1000);
    for (int i = 0; i < 11; ++i) Create(key_, NumberedName("s", i));
    // The open key's position still counts from the value's start.
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 1000u);
    ASSERT_EQ(Write("tail"), 4);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 0), 0);
    std::vector<uint8_t> out(2000);
    ASSERT_EQ(manager_.HdbReadValue(handle_, key_, out.data(), 2000), 1004);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin()));
    EXPECT_EQ(std::string(out.begin() + 1000, out.begin() + 1004), "tail");
}

// A position set beyond the value's end: a read gets nothing, a write fills the gap with zeros
// so that the bytes land at the position.
TEST_F(ValueOperationsTest, SeekBeyondTheEnd) {
    ASSERT_EQ(Write("abc"), 3);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 10), 0);
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 10u);
    EXPECT_EQ(Read(5), "");
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 10u);
    ASSERT_EQ(Write("Z"), 1);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 11u);
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 11u);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 0), 0);
    EXPECT_EQ(Read(20), std::string("abc\0\0\0\0\0\0\0Z", 11));
}

// A shorter name leaves spare bytes behind the stream's end; reads stop at the end.
TEST_F(ValueOperationsTest, ReadsStopAtTheStreamEndAfterAShorterName) {
    const uint32_t key = Create(1, std::string(600, 'w'));
    const auto bytes = Pattern(50);
    SetValue(key, bytes);
    ASSERT_EQ(manager_.HdbRenameKey(handle_, key, "w"), 0);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key), 50u);
    EXPECT_EQ(Value(key), bytes);
    Reopen();
    EXPECT_EQ(Value(key), bytes);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key), 50u);
}

class UncachedValueOperationsTest : public ValueOperationsTest {
    CacheLimitScope uncached_{0};
};

TEST_F(UncachedValueOperationsTest, FailedWriteDoesNotAdvanceThePosition) {
    ASSERT_EQ(Write("abc"), 3);
    const std::string big(600, 'b');
    platform::InjectFault(CallKind::Write, 1);  // the new block cannot be added
    EXPECT_EQ(Write(big), -1);
    platform::ClearFaults();
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 3u);
    uint32_t valueLength = 0;
    ASSERT_EQ(manager_.HdbGetKeyInfo(handle_, key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, &valueLength),
              0);
    EXPECT_EQ(valueLength, 3u);
}

TEST_F(UncachedValueOperationsTest, FailedReadReportsMinusOne) {
    const auto bytes = Pattern(1000);
    ASSERT_EQ(manager_.HdbWriteValue(handle_, key_, bytes.data(), 1000), 1000);
    manager_.HdbCloseKey(handle_, key_);
    std::vector<uint8_t> out(1000);
    platform::InjectFault(CallKind::Read, 2);  // after the header, the value's next block
    EXPECT_EQ(manager_.HdbReadValue(handle_, key_, out.data(), 1000), -1);
    platform::ClearFaults();
    EXPECT_EQ(manager_.HdbTellValue(handle_, key_), 0u);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, key_, 0), 0);
    ASSERT_EQ(manager_.HdbReadValue(handle_, key_, out.data(), 1000), 1000);
    EXPECT_EQ(out, bytes);
}

TEST_F(ValueOperationsTest, ZeroLengthTransfers) {
    EXPECT_EQ(manager_.HdbWriteValue(handle_, key_, nullptr, 0), 0);
    EXPECT_EQ(manager_.HdbReadValue(handle_, key_, nullptr, 0), 0);
    EXPECT_EQ(manager_.HdbWriteValue(handle_, key_, nullptr, 4), -1);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key_), 0u);
}

}  // namespace

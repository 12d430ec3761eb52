#include "hdb/key_node.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "hdb/database_manager.h"
#include "hdb_test_support.h"
#include "platform/testing/fault_injection.h"

using namespace hdb;

namespace {

using namespace hdb_test;
using platform::CallKind;

TEST(NameHashTest, FoldsCaseAndCountsHighBytesNegative) {
    struct Case {
        const char* name;
        uint32_t hash;
    };
    for (const Case c : {Case{"abc", 0x03600126}, Case{"ABC", 0x03600126}, Case{"", 0}, Case{"\xE9", 0x01E9FFE9},
                         Case{"Config", 0x060A0276}, Case{"[", 0x015B005B}, Case{"@", 0x01400040}})
        EXPECT_EQ(NameHash(c.name), c.hash) << c.name;
    // The count is kept modulo 256.
    EXPECT_EQ(NameHash(std::string(256, 'a').c_str()) >> 24, 0u);
}

TEST(KeyHeaderTest, SplitFieldsSetBothParts) {
    KeyHeader header{};
    SetValueOffset(header, 0x123456);
    SetSubKeyCount(header, 0xABCDEF);
    EXPECT_EQ(header.valueOffsetLow, 0x3456);
    EXPECT_EQ(header.valueOffsetHigh, 0x12);
    EXPECT_EQ(header.subKeyCountLow, 0xCDEF);
    EXPECT_EQ(header.subKeyCountHigh, 0xAB);
    EXPECT_EQ(ValueOffset(header), 0x123456u);
    EXPECT_EQ(SubKeyCount(header), 0xABCDEFu);
}

using KeyNodeTest = KeyTest;

TEST_F(KeyNodeTest, FirstKeyIsTheRootWithItsCreatorsParent) {
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 0xDEAD, "Root"), 1);
    EXPECT_EQ(manager_.HdbGetParentKey(handle_, 1), 0xDEAD);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    const int64_t second = manager_.HdbCreateKey(handle_, 1, "Second");
    EXPECT_EQ(second, 2);
    EXPECT_EQ(SubKeys(1), (std::vector<uint32_t>{2}));
    manager_.HdbCloseKey(handle_, 1);
    manager_.HdbCloseKey(handle_, 2);
}

TEST_F(KeyNodeTest, ConfigKeyLayoutOnDisk) {
    Root();
    const uint32_t config = Create(1, "Config");
    Close();
    const auto file = File();
    EXPECT_EQ(WordAt(file, BlockOffset(config)), 115u);
    EXPECT_EQ(WordAt(file, BlockOffset(config) + 4), 0u);
    const RawKey key = ReadRawKey(file, config);
    ASSERT_EQ(key.stream.size(), 115u);
    EXPECT_EQ(key.Word(0), 1u);   // parent
    EXPECT_EQ(key.Word(4), 0u);   // both attribute words
    EXPECT_EQ(key.Half(8), 28u);  // name offset
    EXPECT_EQ(key.Half(10), 6u);  // name length
    EXPECT_EQ(key.Half(12), 35u); // sub-key list offset
    EXPECT_EQ(key.Half(14), 0u);
    EXPECT_EQ(key.Half(16), 115u);
    EXPECT_EQ(key.stream[18], 0u);
    EXPECT_EQ(key.stream[19], 0u);
    EXPECT_EQ(key.Word(20), 0u);  // value length
    EXPECT_EQ(key.Word(24), 0u);  // header mark
    EXPECT_EQ(std::string(key.stream.begin() + 28, key.stream.begin() + 35), std::string("Config\0", 7));
    EXPECT_EQ(std::vector<uint8_t>(key.stream.begin() + 35, key.stream.end()), std::vector<uint8_t>(80, 0));

    const RawKey root = ReadRawKey(file, 1);
    EXPECT_EQ(root.SubKeyCount(), 1u);
    EXPECT_EQ(root.Word(root.Half(12)), config);
    EXPECT_EQ(root.Word(root.Half(12) + 4u), 0x060A0276u);
    EXPECT_EQ(WordAt(file, 56), 2u);  // keyCount
}

TEST_F(KeyNodeTest, HeaderChangeOfAnOpenKeyReachesTheFileAtClose) {
    Root();
    const uint32_t key = Create(1, "Config");
    ASSERT_EQ(manager_.HdbOpenKey(handle_, key), 0);
    ASSERT_EQ(manager_.HdbSetKeyAttr1(handle_, key, 0x1234), 0);
    EXPECT_EQ(ReadRawKey(File(), key).Half(4), 0u);  // still in memory only
    manager_.HdbCloseKey(handle_, key);
    const RawKey raw = ReadRawKey(File(), key);
    EXPECT_EQ(raw.Half(4), 0x1234u);
    EXPECT_EQ(raw.Word(24), 1u);  // rewritten at release
    EXPECT_EQ(raw.length, 115u);
}

TEST_F(KeyNodeTest, OpenAndCloseAreNotCounted) {
    Root();
    const uint32_t key = Create(1, "Config");
    const std::vector<uint8_t> text{'a', 'b', 'c', 'd'};
    ASSERT_EQ(manager_.HdbWriteValue(handle_, key, text.data(), 4), 4);  // leaves it open at 4
    EXPECT_EQ(manager_.HdbOpenKey(handle_, key), 0);
    EXPECT_EQ(manager_.HdbTellValue(handle_, key), 4u);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, key), 0);
    manager_.HdbCloseKey(handle_, key);  // one close closes it
    EXPECT_EQ(manager_.HdbTellValue(handle_, key), 0u);
    EXPECT_EQ(NodeFind(db(), key), nullptr);
    manager_.HdbCloseKey(handle_, key);  // not open: nothing happens
    EXPECT_EQ(Value(key), text);
}

// A key whose stream outgrows its first block at creation still has its full length after a
// close and reopen, although no header field changed.
TEST_F(KeyNodeTest, LongNameKeyKeepsItsLengthOnDisk) {
    Root();
    const std::string name(200, 'n');
    const uint32_t key = Create(1, name);
    Reopen();
    EXPECT_EQ(WordAt(File(), BlockOffset(key)), 28u + 201u + 80u);
    EXPECT_EQ(ReadRawKey(File(), key).Word(24), 0u);  // the header itself was not rewritten
    EXPECT_EQ(Name(key), name);
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, name.c_str()), key);
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, key), 0u);
    const uint32_t sub = Create(key, "Sub");
    EXPECT_EQ(manager_.HdbFindKey(handle_, key, "Sub"), sub);
}

TEST_F(KeyNodeTest, KeysLeftOpenAreReportedAtClose) {
    static std::vector<std::string> reports;
    reports.clear();
    SetReportMessageHook([](const char* caption, const char* text) {
        reports.push_back(std::string(caption) + "|" + text);
        return 0;
    });
    ASSERT_EQ(manager_.HdbCreateKey(handle_, 0, "Root"), 1);  // left open
    Create(1, "Closed");
    const uint8_t byte = 7;
    const int64_t other = manager_.HdbCreateKey(handle_, 1, "Other");
    manager_.HdbCloseKey(handle_, static_cast<uint32_t>(other));
    ASSERT_EQ(manager_.HdbWriteValue(handle_, static_cast<uint32_t>(other), &byte, 1), 1);  // reopened
    Close();
    SetReportMessageHook(nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Database Manager|2 objects were left open when closing database " + path_);
    // What the open keys held reached the file at that close.
    ASSERT_GE(Open(ModeReadOnly), 0);
    EXPECT_EQ(Value(static_cast<uint32_t>(other)), std::vector<uint8_t>{7});
}

// Ids that name no key: every entry point fails cleanly and nothing is written.
class ForeignKeyIdTest : public KeyTest {
protected:
    void SetUp() override {
        KeyTest::SetUp();
        Root();
        const uint32_t valued = Create(1, "Valued");
        SetValue(valued, std::vector<uint8_t>(700, 'x'));
        const uint32_t gone = Create(1, "Gone");
        ASSERT_EQ(manager_.HdbDeleteKey(handle_, gone), 0);
        middle_ = ReadRawChain(File(), valued).blocks.at(1);
        released_ = gone;
        Reopen();
    }
    uint32_t middle_ = 0;
    uint32_t released_ = 0;
};

TEST_F(ForeignKeyIdTest, EveryEntryPointFailsCleanly) {
    const auto before = File();
    const uint32_t blockCount = db().header.blockCount;
    for (const uint32_t id : {0u, released_, middle_, blockCount, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(manager_.HdbOpenKey(handle_, id), -1);
        char name[16] = "untouched";
        EXPECT_EQ(manager_.HdbGetKeyName(handle_, id, name, sizeof name), -1);
        EXPECT_EQ(name[0], 0);
        EXPECT_EQ(manager_.HdbFindKey(handle_, id, "x"), -1);
        EXPECT_EQ(manager_.HdbFirstSubKey(handle_, id), -1);
        EXPECT_EQ(manager_.HdbNextSubKey(handle_, id, 2), -1);
        EXPECT_EQ(manager_.HdbGetParentKey(handle_, id), -1);
        EXPECT_EQ(manager_.HdbGetSubKeyCount(handle_, id), -1);
        EXPECT_EQ(manager_.HdbGetKeyAttr1(handle_, id), -1);
        EXPECT_EQ(manager_.HdbSetKeyAttr2(handle_, id, 1), -1);
        EXPECT_EQ(manager_.HdbRenameKey(handle_, id, "y"), -1);
        EXPECT_EQ(manager_.HdbDeleteKey(handle_, id), -1);
        uint8_t byte = 0;
        EXPECT_EQ(manager_.HdbWriteValue(handle_, id, &byte, 1), -1);
        EXPECT_EQ(manager_.HdbReadValue(handle_, id, &byte, 1), -1);
        EXPECT_EQ(manager_.HdbSeekValue(handle_, id, 0), -1);
        EXPECT_EQ(manager_.HdbGetValueSize(handle_, id), 0u);
        EXPECT_EQ(manager_.HdbClearValue(handle_, id), -1);
        EXPECT_EQ(manager_.HdbCreateKey(handle_, id, "child"), -1);
    }
    EXPECT_EQ(db().nodeHead, nullptr);
    EXPECT_EQ(db().header.blockCount, blockCount);
    EXPECT_EQ(db().header.keyCount, 2u);
    Close();
    auto after = File();
    after[68] = before[68];  // openForWrite
    EXPECT_EQ(after, before);
}

// Headers whose offsets do not fit their stream are refused before anything reads by them.
struct HeaderDamage {
    const char* name;
    size_t offset;  // in the key's payload
    uint16_t value;
};

class DamagedHeaderTest : public KeyTest, public ::testing::WithParamInterface<HeaderDamage> {};

TEST_P(DamagedHeaderTest, KeyDoesNotLoad) {
    Root();
    const uint32_t key = Create(1, "Config");
    Create(key, "Child");
    Close();
    auto file = File();
    const size_t at = BlockOffset(key) + 8 + GetParam().offset;
    file[at] = static_cast<uint8_t>(GetParam().value);
    file[at + 1] = static_cast<uint8_t>(GetParam().value >> 8);
    WriteBytes(path_, file);
    ASSERT_GE(Open(ModeReadWrite), 0);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, key), -1);
    EXPECT_EQ(manager_.HdbFindKey(handle_, key, "Child"), -1);
    EXPECT_EQ(manager_.HdbDeleteKey(handle_, key), -1);
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Config"), -1);  // its name cannot be read either
    EXPECT_EQ(manager_.GetKeyCount(handle_), 3);
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedHeaderTest,
                         ::testing::Values(HeaderDamage{"NameOffset", 8, 27},
                                           HeaderDamage{"NameBeyondTheList", 10, 7},
                                           HeaderDamage{"ListAfterTheValue", 12, 200},
                                           HeaderDamage{"CountBeyondTheRoom", 14, 11},
                                           HeaderDamage{"ValueBeyondTheStream", 16, 116},
                                           HeaderDamage{"HugeCount", 14, 0xFFFF}),
                         [](const auto& info) { return std::string(info.param.name); });

// Keys with long names as the server's own engine leaves them: the length word of the first
// block still holds the length from when the stream first left that block, while the header and
// the chain hold the whole stream. The file was written by this engine (Root 1; 200-byte names
// of L at 2 and of M at 4; M's sub-key Child 6, added after a reopen, with the value "kept"; a
// 300-byte name of N at 7; After 9 with the value "end"), then those words set to the server's
// values: 229 for L, 237 for M (its entry appended at the stale end), 28 for N.
class StaleLengthTest : public KeyTest {
protected:
    void SetUp() override {
        fixture_ = ReadBytes((std::filesystem::path(__FILE__).parent_path().parent_path() / "data" /
                              "long_names_stale_length.hdb").string());
        ASSERT_EQ(fixture_.size(), BlockOffset(10));
        WriteBytes(path_, fixture_);
    }
    void ExpectTheWholeTree() {
        EXPECT_EQ(manager_.GetKeyCount(handle_), 6);
        EXPECT_EQ(SubKeys(1), (std::vector<uint32_t>{2, 4, 7, 9}));
        for (const auto& [key, name] : {std::pair{2u, L}, std::pair{4u, M}, std::pair{7u, N}}) {
            SCOPED_TRACE(key);
            EXPECT_EQ(manager_.HdbFindKey(handle_, 1, name.c_str()), key);
            EXPECT_EQ(manager_.HdbOpenKey(handle_, key), 0);
            manager_.HdbCloseKey(handle_, key);
            EXPECT_EQ(Name(key), name);
            EXPECT_EQ(manager_.HdbGetValueSize(handle_, key), 0u);
        }
        EXPECT_EQ(SubKeys(4), std::vector<uint32_t>{6});
        EXPECT_EQ(manager_.HdbFindKey(handle_, 4, "Child"), 6);
        EXPECT_EQ(Value(6), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
        EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "After"), 9);
        EXPECT_EQ(Value(9), (std::vector<uint8_t>{'e', 'n', 'd'}));
        EXPECT_EQ(db().nodeHead, nullptr);
    }
    std::vector<uint8_t> fixture_;
    const std::string L = std::string(200, 'L'), M = std::string(200, 'M'), N = std::string(300, 'N');
};

TEST_F(StaleLengthTest, ReadOnlyOpenReadsEveryKeyAndWritesNothing) {
    ASSERT_GE(Open(ModeReadOnly), 0);
    ExpectTheWholeTree();
    Close();
    EXPECT_EQ(File(), fixture_);
}

TEST_F(StaleLengthTest, WritableOpenStoresTheTrueLengths) {
    ASSERT_GE(Open(ModeReadWrite), 0);
    ExpectTheWholeTree();
    Close();
    auto expected = fixture_;
    PutWord(expected, BlockOffset(2), 28 + 201 + 80);
    PutWord(expected, BlockOffset(4), 28 + 201 + 80);
    PutWord(expected, BlockOffset(7), 28 + 301 + 80);
    EXPECT_EQ(File(), expected);
    // The keys take changes like any other.
    ASSERT_GE(Open(ModeReadWrite), 0);
    const uint32_t sub = Create(2, "Sub");
    SetValue(4, Pattern(300));
    Reopen(ModeReadOnly);
    EXPECT_EQ(manager_.HdbFindKey(handle_, 2, "Sub"), sub);
    EXPECT_EQ(Value(4), Pattern(300));
    EXPECT_EQ(manager_.HdbFindKey(handle_, 4, "Child"), 6);
    EXPECT_EQ(Name(4), M);
}

// The chain decides: a short length word is taken as stale only when the blocks it links hold
// what the header describes.
TEST_F(StaleLengthTest, ChainThatLacksTheBytesIsRefused) {
    struct Case {
        const char* name;
        size_t offset;
        uint32_t word;
    };
    for (const Case c : {Case{"second block unlinked", BlockOffset(2) + 4, 0},
                         Case{"second block released", BlockOffset(3), kReleasedBlockMark},
                         Case{"second block of another chain", BlockOffset(2) + 4, 5}}) {
        SCOPED_TRACE(c.name);
        auto damaged = fixture_;
        PutWord(damaged, c.offset, c.word);
        WriteBytes(path_, damaged);
        ASSERT_GE(Open(ModeReadWrite), 0);
        EXPECT_EQ(manager_.HdbOpenKey(handle_, 2), -1);
        EXPECT_EQ(manager_.HdbFindKey(handle_, 1, L.c_str()), -1);
        EXPECT_EQ(manager_.HdbFindKey(handle_, 1, M.c_str()), 4);
        Close();
    }
}

TEST_F(KeyNodeTest, ReadOnlyDatabaseRefusesChangesAndWritesNothing) {
    Root();
    const uint32_t key = Create(1, "Config");
    SetValue(key, {1, 2, 3});
    Reopen(ModeReadOnly);
    const auto before = File();
    uint8_t byte = 9;
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 1, "New"), -1);
    EXPECT_EQ(manager_.HdbDeleteKey(handle_, key), -1);
    EXPECT_EQ(manager_.HdbRenameKey(handle_, key, "Other"), -1);
    EXPECT_EQ(manager_.HdbSetKeyAttr1(handle_, key, 1), -1);
    EXPECT_EQ(manager_.HdbSetKeyAttr2(handle_, key, 1), -1);
    EXPECT_EQ(manager_.HdbWriteValue(handle_, key, &byte, 1), -1);
    EXPECT_EQ(manager_.HdbClearValue(handle_, key), -1);
    // Reading works and leaves nothing to write.
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Config"), key);
    EXPECT_EQ(Value(key), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(manager_.HdbSeekValue(handle_, key, 1), 0);
    EXPECT_EQ(manager_.HdbTellValue(handle_, key), 1u);
    Close();
    EXPECT_EQ(File(), before);
}

TEST_F(KeyNodeTest, HandlesThatNameNoDatabase) {
    Root();
    char name[8] = "x";
    uint8_t byte = 0;
    for (const int32_t handle : {-1, 1, 511, 512}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(manager_.HdbOpenKey(handle, 1), -1);
        manager_.HdbCloseKey(handle, 1);
        EXPECT_EQ(manager_.HdbCreateKey(handle, 1, "a"), -1);
        EXPECT_EQ(manager_.HdbDeleteKey(handle, 1), -1);
        EXPECT_EQ(manager_.HdbRenameKey(handle, 1, "a"), -1);
        EXPECT_EQ(manager_.HdbGetKeyName(handle, 1, name, sizeof name), -1);
        EXPECT_EQ(manager_.HdbFindKey(handle, 1, "a"), -1);
        EXPECT_EQ(manager_.HdbFindKeyNoCase(handle, 1, "a"), -1);
        EXPECT_EQ(manager_.HdbFirstSubKey(handle, 1), -1);
        EXPECT_EQ(manager_.HdbNextSubKey(handle, 1, 2), -1);
        EXPECT_EQ(manager_.HdbGetParentKey(handle, 1), -1);
        EXPECT_EQ(manager_.HdbGetSubKeyCount(handle, 1), -1);
        EXPECT_EQ(manager_.HdbGetKeyInfo(handle, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr),
                  -1);
        EXPECT_EQ(manager_.HdbSetKeyAttr1(handle, 1, 1), -1);
        EXPECT_EQ(manager_.HdbGetKeyAttr2(handle, 1), -1);
        EXPECT_EQ(manager_.HdbWriteValue(handle, 1, &byte, 1), -1);
        EXPECT_EQ(manager_.HdbReadValue(handle, 1, &byte, 1), -1);
        EXPECT_EQ(manager_.HdbSeekValue(handle, 1, 0), -1);
        EXPECT_EQ(manager_.HdbTellValue(handle, 1), 0u);
        EXPECT_EQ(manager_.HdbGetValueSize(handle, 1), 0u);
        EXPECT_EQ(manager_.HdbClearValue(handle, 1), -1);
    }
    EXPECT_EQ(db().lockWord, 0);
}

TEST_F(UncachedKeyTest, FailedLoadFreesItsNode) {
    Root();
    const uint32_t key = Create(1, "Config");
    platform::InjectFault(CallKind::Read, 1);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, key), -1);
    platform::InjectFault(CallKind::Allocate, 1);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, key), -1);
    platform::ClearFaults();
    EXPECT_EQ(db().nodeHead, nullptr);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, key), 0);
    manager_.HdbCloseKey(handle_, key);
}

}  // namespace

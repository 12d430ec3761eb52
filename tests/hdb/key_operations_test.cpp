#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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
using platform::Fault;

using KeyOperationsTest = KeyTest;

TEST_F(KeyOperationsTest, EleventhSubKeyGrowsTheListAndMovesTheValue) {
    Root();
    const uint32_t parent = Create(1, "Parent");
    const auto value = Pattern(600);
    SetValue(parent, value);
    std::vector<uint32_t> children;
    for (int i = 0; i < 10; ++i) children.push_back(Create(parent, NumberedName("k", i)));
    const RawKey before = ReadRawKey(File(), parent);
    children.push_back(Create(parent, "k10"));
    const RawKey after = ReadRawKey(File(), parent);
    EXPECT_EQ(after.ValueOffset(), before.ValueOffset() + 80);
    EXPECT_EQ(after.length, before.length + 80);
    EXPECT_EQ(after.SubKeyCount(), 11u);
    EXPECT_EQ(Value(parent), value);
    EXPECT_EQ(SubKeys(parent), children);
    // The twenty-first grows it once more; a list without a value grows by appending.
    for (int i = 11; i < 21; ++i) children.push_back(Create(parent, NumberedName("k", i)));
    EXPECT_EQ(ReadRawKey(File(), parent).ValueOffset(), before.ValueOffset() + 160);
    EXPECT_EQ(Value(parent), value);
    const uint32_t bare = Create(1, "Bare");
    for (int i = 0; i < 11; ++i) Create(bare, NumberedName("b", i));
    const RawKey bareKey = ReadRawKey(File(), bare);
    EXPECT_EQ(bareKey.ValueOffset(), 28u + 5 + 160);
    EXPECT_EQ(bareKey.length, bareKey.ValueOffset());
    EXPECT_EQ(manager_.HdbGetValueSize(handle_, bare), 0u);
}

TEST_F(KeyOperationsTest, LookupsCompareExactlyOrWithoutCase) {
    Root();
    const uint32_t lower = Create(1, "abc");
    const uint32_t config = Create(1, "Config");
    const uint32_t ab = Create(1, "ab");
    struct Case {
        const char* name;
        int64_t exact;
        int64_t noCase;
    };
    for (const Case c : {Case{"abc", lower, lower}, Case{"ABC", -1, lower}, Case{"Config", config, config},
                         Case{"CONFIG", -1, config}, Case{"Conf", -1, -1}, Case{"Configs", -1, -1},
                         Case{"ba", -1, -1},  // same hash as ab
                         Case{"ab", ab, ab}, Case{"", -1, -1}}) {
        EXPECT_EQ(manager_.HdbFindKey(handle_, 1, c.name), c.exact) << c.name;
        EXPECT_EQ(manager_.HdbFindKeyNoCase(handle_, 1, c.name), c.noCase) << c.name;
    }
    EXPECT_EQ(NameHash("ab"), NameHash("ba"));
    EXPECT_EQ(db().nodeHead, nullptr);  // lookups leave nothing open
}

TEST_F(KeyOperationsTest, EqualNamesFindTheFirstAdded) {
    Root();
    const uint32_t first = Create(1, "Same");
    Create(1, "Same");
    Create(1, "SAME");
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Same"), first);
    EXPECT_EQ(manager_.HdbFindKeyNoCase(handle_, 1, "same"), first);
}

TEST_F(KeyOperationsTest, LookupWithoutMemoryFails) {
    Root();
    Create(1, "Config");
    for (uint32_t nth : {1u, 2u, 3u}) {  // the parent's node, the list copy, the name buffer
        platform::InjectFault(CallKind::Allocate, nth);
        EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Config"), -1);
        platform::ClearFaults();
    }
    EXPECT_EQ(db().nodeHead, nullptr);
}

TEST_F(KeyOperationsTest, GetKeyNameFitsTheBuffer) {
    Root();
    const uint32_t key = Create(1, "Config");
    struct Case {
        uint32_t size;
        int32_t result;
        const char* stored;
    };
    for (const Case c : {Case{1, 0, ""}, Case{4, 3, "Con"}, Case{7, 6, "Config"}, Case{50, 6, "Config"}}) {
        std::vector<char> buffer(c.size + 1, 'x');
        EXPECT_EQ(manager_.HdbGetKeyName(handle_, key, buffer.data(), c.size), c.result);
        EXPECT_STREQ(buffer.data(), c.stored);
        EXPECT_EQ(buffer[c.size], 'x');
    }
    char none = 'x';
    EXPECT_EQ(manager_.HdbGetKeyName(handle_, key, &none, 0), -1);
    EXPECT_EQ(none, 'x');
}

TEST_F(UncachedKeyTest, GetKeyNameTerminatesWhenTheReadFails) {
    Root();
    const uint32_t key = Create(1, std::string(300, 'L'));
    std::vector<char> buffer(400, 'x');
    platform::InjectFault(CallKind::Read, 2);  // the name's second block
    EXPECT_EQ(manager_.HdbGetKeyName(handle_, key, buffer.data(), 400), 0);
    platform::ClearFaults();
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(Name(key), std::string(300, 'L'));
}

// Renaming moves the sub-key list and value with the name's end and updates the parent's hash.
TEST_F(KeyOperationsTest, RenameKeepsSubKeysAndValue) {
    Root();
    const uint32_t key = Create(1, "Middle");
    std::vector<uint32_t> children;
    for (int i = 0; i < 12; ++i) children.push_back(Create(key, NumberedName("c", i)));
    const auto value = Pattern(900);
    SetValue(key, value);
    for (const std::string& name : {std::string("A much longer name than before"), std::string("S"),
                                   std::string(400, 'z'), std::string("Middle")}) {
        SCOPED_TRACE(name.size());
        ASSERT_EQ(manager_.HdbRenameKey(handle_, key, name.c_str()), 0);
        EXPECT_EQ(Name(key), name);
        EXPECT_EQ(manager_.HdbFindKey(handle_, 1, name.c_str()), key);
        EXPECT_EQ(SubKeys(key), children);
        EXPECT_EQ(manager_.HdbFindKey(handle_, key, "c7"), children[7]);
        EXPECT_EQ(Value(key), value);
        uint16_t nameLength = 0, listOffset = 0;
        ASSERT_EQ(manager_.HdbGetKeyInfo(handle_, key, nullptr, nullptr, nullptr, &nameLength, &listOffset, nullptr,
                                         nullptr, nullptr, nullptr),
                  0);
        EXPECT_EQ(nameLength, name.size());
        EXPECT_EQ(listOffset, 29 + name.size());
    }
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "S"), -1);
    Reopen();
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Middle"), key);
    EXPECT_EQ(Value(key), value);
    EXPECT_EQ(SubKeys(key), children);
}

TEST_F(KeyOperationsTest, RootRenamesWithoutAParentList) {
    Root();
    ASSERT_EQ(manager_.HdbRenameKey(handle_, 1, "New root"), 0);
    EXPECT_EQ(Name(1), "New root");
    // A root made after the first was deleted gets another block; its parent names no key.
    Create(Create(1, "A"), "B");
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, 1), 0);
    const uint32_t root = Create(0, "Again");
    ASSERT_NE(root, 1u);
    EXPECT_EQ(manager_.HdbRenameKey(handle_, root, "Renamed"), 0);
    EXPECT_EQ(Name(root), "Renamed");
    // Block 1 now goes to an ordinary key, which is found under its new name once renamed.
    const uint32_t upper = Create(root, "Upper");
    const uint32_t lower = Create(upper, "Lower");
    ASSERT_TRUE(upper == 1 || lower == 1);
    const uint32_t parent = upper == 1 ? root : upper;
    ASSERT_EQ(manager_.HdbRenameKey(handle_, 1, "Key one"), 0);
    EXPECT_EQ(manager_.HdbFindKey(handle_, parent, "Key one"), 1);
}

TEST_F(KeyOperationsTest, NamesBeyondTheFieldWidthsAreRefused) {
    Root();
    const uint32_t key = Create(1, "Config");
    const std::string longest(65426, 'q');
    const int64_t big = manager_.HdbCreateKey(handle_, 1, longest.c_str());
    EXPECT_GT(big, 0);
    manager_.HdbCloseKey(handle_, static_cast<uint32_t>(big));
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 1, std::string(65427, 'q').c_str()), -1);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 3);
    EXPECT_EQ(manager_.HdbRenameKey(handle_, key, std::string(65507, 'r').c_str()), -1);
    EXPECT_EQ(Name(key), "Config");
    EXPECT_EQ(manager_.HdbRenameKey(handle_, key, std::string(65506, 'r').c_str()), 0);
    EXPECT_EQ(Name(key), std::string(65506, 'r'));
    EXPECT_EQ(Name(static_cast<uint32_t>(big)), longest);
}

TEST_F(KeyOperationsTest, DeletingASubtreeReturnsEveryBlock) {
    Root();
    const uint32_t keep = Create(1, "Keep");
    const uint32_t top = Create(1, "Top");
    const uint32_t mid = Create(top, "Mid");
    Create(mid, "Leaf1");
    SetValue(Create(mid, "Leaf2"), Pattern(1000));
    SetValue(top, Pattern(300));
    for (int i = 0; i < 12; ++i) Create(top, NumberedName("t", i));
    Reopen();
    // Every block of the subtree, by walking its chains in the file.
    std::vector<uint32_t> subtree;
    std::vector<uint32_t> pending{top};
    const auto raw = File();
    while (!pending.empty()) {
        const uint32_t key = pending.back();
        pending.pop_back();
        const RawChain chain = ReadRawChain(raw, key);
        subtree.insert(subtree.end(), chain.blocks.begin(), chain.blocks.end());
        const RawKey header = ReadRawKey(raw, key);
        for (uint32_t i = 0; i < header.SubKeyCount(); ++i) pending.push_back(header.Word(header.Half(12) + 8 * i));
    }
    const int32_t keysBefore = manager_.GetKeyCount(handle_);
    ASSERT_EQ(manager_.HdbOpenKey(handle_, mid), 0);  // deletion also drops open nodes
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, top), 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), keysBefore - 16);
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Top"), -1);
    EXPECT_EQ(SubKeys(1), (std::vector<uint32_t>{keep}));
    EXPECT_EQ(db().nodeHead, nullptr);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, mid), -1);
    Close();
    const auto file = File();
    auto freed = RawFreeList(file);
    std::sort(freed.begin(), freed.end());
    std::sort(subtree.begin(), subtree.end());
    EXPECT_EQ(freed, subtree);
    for (const uint32_t block : subtree) EXPECT_EQ(WordAt(file, BlockOffset(block)), kReleasedBlockMark);
}

TEST_F(KeyOperationsTest, DeletingAnOpenKeyFreesItsNodeUnwritten) {
    static int reports = 0;
    reports = 0;
    SetReportMessageHook([](const char*, const char*) { return ++reports; });
    Root();
    const int64_t key = manager_.HdbCreateKey(handle_, 1, "Fresh");  // open, never written
    const uint8_t byte = 1;
    ASSERT_EQ(manager_.HdbWriteValue(handle_, static_cast<uint32_t>(key), &byte, 1), 1);
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, static_cast<uint32_t>(key)), 0);
    EXPECT_EQ(db().header.freeCount, 1u);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    Close();
    SetReportMessageHook(nullptr);
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(RawFreeList(File()), std::vector<uint32_t>{static_cast<uint32_t>(key)});
}

TEST_F(KeyOperationsTest, DeletingTheRootEmptiesTheDatabase) {
    Root();
    Create(Create(1, "A"), "B");
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, 1), 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 0);
    EXPECT_EQ(db().header.freeCount, 3u);
}

// A root made as the rebuild makes it, naming itself as its parent, with and without sub-keys.
TEST_F(KeyOperationsTest, SelfParentedRootRenames) {
    ASSERT_EQ(Create(1, "Root"), 1u);
    ASSERT_EQ(manager_.HdbRenameKey(handle_, 1, "Bare"), 0);
    EXPECT_EQ(Name(1), "Bare");
    const uint32_t child = Create(1, "Child");
    ASSERT_EQ(manager_.HdbRenameKey(handle_, 1, "Parent of one"), 0);
    EXPECT_EQ(Name(1), "Parent of one");
    EXPECT_EQ(SubKeys(1), std::vector<uint32_t>{child});
    EXPECT_EQ(manager_.HdbFindKey(handle_, 1, "Child"), child);
}

// After the root was deleted and made again, key 1 can be an ordinary key deep in the tree; it
// goes with its subtree like any other.
TEST_F(KeyOperationsTest, KeyOneBelowANewRootIsDeletedWithItsSubtree) {
    Root();
    Create(Create(1, "A"), "B");
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, 1), 0);
    const uint32_t root = Create(0, "Root");
    const uint32_t upper = Create(root, "Upper");
    Create(Create(upper, "Middle"), "Lower");
    // Block 1 went to one of the new keys below the root.
    std::vector<uint32_t> below{upper, static_cast<uint32_t>(manager_.HdbFindKey(handle_, upper, "Middle"))};
    below.push_back(static_cast<uint32_t>(manager_.HdbFindKey(handle_, below[1], "Lower")));
    ASSERT_NE(std::find(below.begin(), below.end(), 1u), below.end());
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, upper), 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    EXPECT_EQ(db().header.freeCount, 3u);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, 1), -1);
    EXPECT_EQ(SubKeys(root), std::vector<uint32_t>{});
}

// A root's parent field holds whatever its creator passed; the walk above a deleted key ends at
// the root, so a field that names a key inside the subtree cannot shield that key.
TEST_F(KeyOperationsTest, RootWhoseParentFieldNamesAGrandchildGoesWithItsTree) {
    ASSERT_EQ(Create(3, "Root"), 1u);
    ASSERT_EQ(Create(Create(1, "Child"), "Grandchild"), 3u);
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, 1), 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 0);
    EXPECT_EQ(db().header.freeCount, 3u);
    EXPECT_EQ(db().nodeHead, nullptr);
    for (const uint32_t gone : {1u, 2u, 3u}) EXPECT_EQ(manager_.HdbOpenKey(handle_, gone), -1) << gone;
    // With the count back at 0 the next key is a root again.
    const int64_t root = manager_.HdbCreateKey(handle_, 0, "Again");
    EXPECT_GT(root, 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    manager_.HdbCloseKey(handle_, static_cast<uint32_t>(root));
}

TEST_F(KeyOperationsTest, SubtreeHoldingKeyOneUnderARootMadeWithParentOne) {
    Root();
    Create(Create(1, "A"), "B");
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, 1), 0);  // frees 3, 2, 1 in that order
    const uint32_t root = Create(1, "Root");
    const uint32_t upper = Create(root, "Upper");
    ASSERT_EQ(Create(upper, "Middle"), 1u);
    Create(1, "Lower");
    ASSERT_EQ(manager_.GetKeyCount(handle_), 4);
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, upper), 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    EXPECT_EQ(db().header.freeCount, 3u);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, 1), -1);
    EXPECT_EQ(SubKeys(root), std::vector<uint32_t>{});
    EXPECT_EQ(Name(root), "Root");
}

// Damaged trees: lists that name the key itself, one of its ancestors or the root.
class DamagedTreeTest : public KeyTest {
protected:
    // Root 1 > A > B > C, then B's list gains `extra` in the file.
    void Build(uint32_t extra) {
        Root();
        a_ = Create(1, "A");
        b_ = Create(a_, "B");
        c_ = Create(b_, "C");
        sibling_ = Create(1, "Sibling");
        const uint32_t target = extra == 0 ? b_ : extra;
        Close();
        auto file = File();
        const RawKey b = ReadRawKey(file, b_);
        const size_t list = BlockOffset(b_) + 8 + b.Half(12);
        PutWord(file, list + 8, target);
        PutWord(file, list + 12, 0);
        file[BlockOffset(b_) + 8 + 14] = 2;  // two entries
        WriteBytes(path_, file);
        ASSERT_GE(Open(ModeReadWrite), 0);
    }
    uint32_t a_ = 0, b_ = 0, c_ = 0, sibling_ = 0;
};

TEST_F(DamagedTreeTest, ListNamingItselfOrAnAncestorEnds) {
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        if (which > 0) {
            Close();
            std::remove(path_.c_str());
            ASSERT_GE(Open(ModeReadWrite), 0);
        }
        Build(which == 0 ? 0 : which == 1 ? 2 : 1);  // B itself, A (block 2), the root
        ASSERT_EQ(a_, 2u);
        EXPECT_EQ(manager_.HdbDeleteKey(handle_, b_), 0);
        EXPECT_EQ(manager_.GetKeyCount(handle_), 3);
        EXPECT_EQ(Name(1), "Root");
        EXPECT_EQ(SubKeys(1), (std::vector<uint32_t>{a_, sibling_}));
        EXPECT_EQ(manager_.HdbGetSubKeyCount(handle_, a_), 0);
        EXPECT_EQ(db().header.freeCount, 2u);  // B and C
    }
}

TEST_F(DamagedTreeTest, DeletingTheAncestorStillEnds) {
    Build(2);  // B lists A, its own parent
    EXPECT_EQ(manager_.HdbDeleteKey(handle_, a_), 0);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 2);
    EXPECT_EQ(SubKeys(1), (std::vector<uint32_t>{sibling_}));
    EXPECT_EQ(db().header.freeCount, 3u);
}

TEST_F(KeyOperationsTest, SubKeyWalks) {
    Root();
    const uint32_t parent = Create(1, "Parent");
    const uint32_t leaf = Create(1, "Leaf");
    std::vector<uint32_t> children;
    for (int i = 0; i < 15; ++i) children.push_back(Create(parent, NumberedName("s", i)));
    EXPECT_EQ(SubKeys(parent), children);
    EXPECT_EQ(manager_.HdbFirstSubKey(handle_, leaf), -1);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children.back()), -1);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, leaf), -1);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, 0xFFFFFFFFu), -1);
    // Out of order: any sub-key gives its successor.
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children[9]), children[10]);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children[2]), children[3]);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children[3]), children[4]);
    // A walk that creates a key sees it: creation drops the cached list.
    ASSERT_EQ(manager_.HdbNextSubKey(handle_, parent, children[13]), children[14]);
    children.push_back(Create(parent, "late"));
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children[14]), children[15]);
    // So does deletion.
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, children[5]), 0);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children[4]), children[6]);
    // Two interleaved walks rebuild the cache in turn and both stay right.
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, 1, parent), leaf);
    EXPECT_EQ(manager_.HdbNextSubKey(handle_, parent, children[6]), children[7]);
}

// A walk over a list that names 0xFFFFFFFF, the largest id, ends after the last entry like any
// other: that id is no "nothing returned yet".
TEST_F(KeyOperationsTest, SubKeyWalkEndsOverTheLargestId) {
    constexpr uint32_t kLargest = 0xFFFFFFFFu;
    for (const std::vector<uint32_t>& list : {std::vector<uint32_t>{kLargest, kLargest},
                                              std::vector<uint32_t>{kLargest, 7, kLargest},
                                              std::vector<uint32_t>{7, kLargest, kLargest, 9}}) {
        SCOPED_TRACE(list.size());
        Close();
        // A 768-byte file: the header, the free list's block and the root, which lists `list`.
        auto image = DatabaseImage(2);
        PutWord(image, 56, 1);  // keyCount
        const auto count = static_cast<uint32_t>(list.size());
        const uint32_t listOffset = 28 + 5, valueOffset = listOffset + 80;
        Link(image, 1, valueOffset, 0);
        const size_t stream = BlockOffset(1) + 8;
        PutWord(image, stream + 8, 28 | 4u << 16);               // name offset, name length
        PutWord(image, stream + 12, listOffset | count << 16);   // list offset, count
        PutWord(image, stream + 16, valueOffset);                // value offset
        std::memcpy(image.data() + stream + 28, "Root", 5);
        for (uint32_t i = 0; i < count; ++i) PutWord(image, stream + listOffset + 8 * i, list[i]);
        ASSERT_EQ(image.size(), 768u);
        WriteBytes(path_, image);
        ASSERT_GE(Open(ModeReadOnly), 0);
        std::vector<uint32_t> walked;
        for (int64_t sub = manager_.HdbFirstSubKey(handle_, 1); sub >= 0 && walked.size() <= list.size();
             sub = manager_.HdbNextSubKey(handle_, 1, static_cast<uint32_t>(sub)))
            walked.push_back(static_cast<uint32_t>(sub));
        EXPECT_EQ(walked, list);
    }
}

TEST_F(KeyOperationsTest, HeaderFields) {
    Root();
    const uint32_t key = Create(1, "Config");
    ASSERT_EQ(manager_.HdbSetKeyAttr1(handle_, key, 0x12345), 0);
    ASSERT_EQ(manager_.HdbSetKeyAttr2(handle_, key, 0xFFFF), 0);
    EXPECT_EQ(manager_.HdbGetKeyAttr1(handle_, key), 0x2345);
    EXPECT_EQ(manager_.HdbGetKeyAttr2(handle_, key), -1);
    ASSERT_EQ(manager_.HdbSetKeyAttr2(handle_, key, 0x7FFF), 0);
    EXPECT_EQ(manager_.HdbGetKeyAttr2(handle_, key), 0x7FFF);
    ASSERT_EQ(manager_.HdbSetKeyAttr2(handle_, key, 0x8000), 0);
    EXPECT_EQ(manager_.HdbGetKeyAttr2(handle_, key), -32768);
    ASSERT_EQ(manager_.HdbSetKeyAttr2(handle_, key, 0xFFFF), 0);
    for (int i = 0; i < 3; ++i) Create(key, NumberedName("s", i));
    const std::vector<uint8_t> value(20, 1);
    SetValue(key, value);
    Reopen();
    uint32_t parent = 0, attributes = 0, valueLength = 0;
    uint16_t nameOffset = 0, nameLength = 0, listOffset = 0, countLow = 0, valueLow = 0, high = 0;
    ASSERT_EQ(manager_.HdbGetKeyInfo(handle_, key, &parent, &attributes, &nameOffset, &nameLength, &listOffset,
                                     &countLow, &valueLow, &high, &valueLength),
              0);
    EXPECT_EQ(parent, 1u);
    EXPECT_EQ(attributes, 0xFFFF2345u);
    EXPECT_EQ(nameOffset, 28);
    EXPECT_EQ(nameLength, 6);
    EXPECT_EQ(listOffset, 35);
    EXPECT_EQ(countLow, 3);
    EXPECT_EQ(valueLow, 115);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(valueLength, 20u);
    EXPECT_EQ(manager_.HdbGetParentKey(handle_, key), 1);
    EXPECT_EQ(manager_.HdbGetSubKeyCount(handle_, key), 3);
    EXPECT_EQ(db().nodeHead, nullptr);
}

// A list that cannot grow gets no entry: the create fails and its blocks go back.
struct GrowthFault {
    const char* name;
    CallKind kind;
    uint32_t nth;
};

class FailedGrowthTest : public UncachedKeyTest, public ::testing::WithParamInterface<GrowthFault> {};

TEST_P(FailedGrowthTest, CreateFailsAndGivesItsBlocksBack) {
    Root();
    const uint32_t parent = Create(1, "Parent");
    std::vector<uint32_t> children;
    for (int i = 0; i < 10; ++i) children.push_back(Create(parent, NumberedName("c", i)));
    const auto value = Pattern(700);
    SetValue(parent, value);
    ASSERT_EQ(manager_.HdbOpenKey(handle_, parent), 0);
    ASSERT_EQ(manager_.HdbSeekValue(handle_, parent, 0), 0);
    const uint32_t valueOffset = ValueOffset(NodeFind(db(), parent)->header);
    const int32_t keys = manager_.GetKeyCount(handle_);
    platform::InjectFault(GetParam().kind, GetParam().nth);
    EXPECT_EQ(manager_.HdbCreateKey(handle_, parent, "eleventh"), -1);
    platform::ClearFaults();
    EXPECT_EQ(manager_.GetKeyCount(handle_), keys);
    EXPECT_EQ(manager_.HdbGetSubKeyCount(handle_, parent), 10);
    EXPECT_EQ(ValueOffset(NodeFind(db(), parent)->header), valueOffset);
    EXPECT_EQ(db().header.freeCount, 1u);
    EXPECT_EQ(manager_.HdbFindKey(handle_, parent, "eleventh"), -1);
    EXPECT_EQ(SubKeys(parent), children);
    manager_.HdbCloseKey(handle_, parent);
    if (GetParam().kind != CallKind::Allocate) {
        // After a failed transfer nothing more changes the database, and its close says so.
        EXPECT_EQ(manager_.HdbCreateKey(handle_, parent, "eleventh"), -1);
        EXPECT_EQ(manager_.CloseDatabase(handle_), -1);
        handle_ = -1;
        EXPECT_EQ(WordAt(File(), 68), 1u) << "the file stays marked as open by a writer";
        return;
    }
    EXPECT_EQ(Value(parent), value);
    // The list grows once the fault is gone, and the released block is reused.
    children.push_back(Create(parent, "eleventh"));
    EXPECT_EQ(SubKeys(parent), children);
    EXPECT_EQ(db().header.freeCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedGrowthTest,
                         ::testing::Values(GrowthFault{"ShiftBuffer", CallKind::Allocate, 2},
                                           GrowthFault{"ShiftWrite", CallKind::Write, 2},
                                           GrowthFault{"ShiftRead", CallKind::Read, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// A create takes its block before it reaches the parent, growing the file if need be, and gives
// the block back when the parent cannot take the entry: later ids follow from that order.
TEST_F(KeyOperationsTest, FailedCreateTakesItsBlockFirstAndGivesItBack) {
    Root();
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 77, "orphan"), -1);  // no such parent
    EXPECT_EQ(db().header.blockCount, 3u);
    EXPECT_EQ(db().header.freeCount, 1u);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    EXPECT_EQ(db().nodeHead, nullptr);
    Close();
    auto file = File();
    EXPECT_EQ(file.size(), BlockOffset(3));
    EXPECT_EQ(RawFreeList(file), std::vector<uint32_t>{2});
    // Nothing of the failed key reached its block: it is as the file's growth left it.
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + BlockOffset(2), file.end()), std::vector<uint8_t>(256, 0));
    ASSERT_GE(Open(ModeReadWrite), 0);
    EXPECT_EQ(Create(1, "Next"), 2u);

    // A released parent's id comes back from the free list as the new key's own; the create
    // fails and the id goes to the back of the list.
    const uint32_t a = Create(1, "A");
    const uint32_t b = Create(1, "B");
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, a), 0);
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, b), 0);
    EXPECT_EQ(manager_.HdbCreateKey(handle_, a, "x"), -1);
    EXPECT_EQ(manager_.GetKeyCount(handle_), 2);
    EXPECT_EQ(manager_.HdbOpenKey(handle_, a), -1);
    EXPECT_EQ(Create(1, "y"), b);
    EXPECT_EQ(Create(1, "z"), a);

    // A name long enough to link a second block: both go back, marked released.
    const uint32_t blocks = db().header.blockCount;
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 77, std::string(200, 'n').c_str()), -1);
    EXPECT_EQ(db().header.freeCount, 2u);
    Close();
    file = File();
    EXPECT_EQ(RawFreeList(file), (std::vector<uint32_t>{blocks, blocks + 1}));
    for (const uint32_t block : {blocks, blocks + 1}) EXPECT_EQ(WordAt(file, BlockOffset(block)), kReleasedBlockMark);
}

TEST_F(UncachedKeyTest, CreateWithoutABlockOrNodeFails) {
    Root();
    for (CallKind kind : {CallKind::Allocate, CallKind::Write}) {
        platform::InjectFault(kind, 1);
        EXPECT_EQ(manager_.HdbCreateKey(handle_, 1, "x"), -1);
        platform::ClearFaults();
    }
    EXPECT_EQ(manager_.GetKeyCount(handle_), 1);
    EXPECT_EQ(manager_.HdbGetSubKeyCount(handle_, 1), 0);
    EXPECT_EQ(db().nodeHead, nullptr);
    EXPECT_EQ(manager_.HdbCreateKey(handle_, 77, "orphan"), -1);  // no such parent
}

}  // namespace

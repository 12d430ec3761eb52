// A small database damaged one way per case, for the walks that must name or survive each.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools_test_support.h"

namespace tools_test {

inline std::string N(uint32_t value) { return std::to_string(value); }

struct DamageCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    std::string line;  // a problem line verify prints holds this
};

// A small tree with a value over three blocks, a key with three sub-keys and three free
// blocks (a deleted key's), damaged one way per case.
class DamagedDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        DatabaseBuilder b(path);
        root = b.Key(0, "Root");
        a = b.Key(root, "A", std::string(600, 'a'));
        a1 = b.Key(a, "A1", "x");
        bk = b.Key(root, "B");
        b1 = b.Key(bk, "B1");
        b2 = b.Key(bk, "B2");
        b3 = b.Key(bk, "B3");
        c = b.Key(root, "C", "text");
        const uint32_t gone = b.Key(root, "Gone", std::string(600, 'g'));
        ASSERT_EQ(b.db().HdbDeleteKey(b.handle(), gone), 0);
        b.Close();
        pristine = ReadBytes(path);
        aBlocks = hdb_test::ReadRawChain(pristine, a).blocks;
        ASSERT_EQ(aBlocks.size(), 3u);
        ASSERT_EQ(WordAt(pristine, 64), 3u);  // freeCount
    }

    // File offsets of a key's header field and of entry i of its list (in its first block).
    static size_t Field(uint32_t key, size_t offset) { return hdb::BlockOffset(key) + 8 + offset; }
    static size_t Entry(uint32_t key, size_t nameLength, size_t i) { return Field(key, 28 + nameLength + 1 + 8 * i); }

    ScanResult ScanDamaged(const std::function<void(std::vector<uint8_t>&)>& damage) {
        std::vector<uint8_t> bytes = pristine;
        damage(bytes);
        WriteBytes(path, bytes);
        return ScanFile(path);
    }

    ScratchDir scratch;
    std::string path = scratch / "damaged.hdb";
    uint32_t root = 0, a = 0, a1 = 0, bk = 0, b1 = 0, b2 = 0, b3 = 0, c = 0;
    std::vector<uint32_t> aBlocks;
    std::vector<uint8_t> pristine;

    // Each damage, with the line verify names it by.
    std::vector<DamageCase> DamageCases() const {
        const uint32_t a2 = aBlocks[1], a3 = aBlocks[2];
        const uint32_t free0 = WordAt(pristine, hdb::BlockOffset(0) + 8);
        return {
            {"a forward link changed", [=, this](auto& f) { PutWord(f, hdb::BlockOffset(a) + 4, c); },
             "Root\\A: block " + N(a) + " links forward to block " + N(c) + ", whose back link names block "},
            {"a back link changed", [=, this](auto& f) { PutWord(f, hdb::BlockOffset(a3), a); },
             "Root\\A: block " + N(a2) + " links forward to block " + N(a3) + ", whose back link names block " + N(a)},
            {"a block in two chains", [=, this](auto& f) { PutWord(f, hdb::BlockOffset(b1) + 4, a2); },
             "Root\\B\\B1: block " + N(b1) + " links forward to block " + N(a2) + ", which belongs to key Root\\A (a block in two chains)"},
            {"a loop in a chain", [=, this](auto& f) { PutWord(f, hdb::BlockOffset(a3) + 4, a); },
             "Root\\A: block " + N(a3) + " links forward to block " + N(a) + ", which is already in this chain (a loop)"},
            {"a list that names an ancestor", [=, this](auto& f) { PutWord(f, Entry(bk, 1, 1), root); },
             "Root\\B: sub-key entry 1 names block " + N(root) + ", which is key Root, already listed (listed twice, or a loop)"},
            {"a lost block", [=](auto& f) { PutWord(f, 56 + 8, 2); PutWord(f, hdb::BlockOffset(0), 8); },
             "block " + N(WordAt(pristine, hdb::BlockOffset(0) + 16)) + ": in no chain and not in the free list (lost)"},
            {"a free-list entry in use", [=, this](auto& f) { PutWord(f, hdb::BlockOffset(0) + 8, c); },
             "free list: entry 0 names block " + N(c) + ", which is in use by key Root\\C (a free-list entry in use)"},
            {"a free-list entry twice", [=](auto& f) { PutWord(f, hdb::BlockOffset(0) + 12, free0); },
             "free list: entry 1 names block " + N(free0) + ", which an earlier entry names too"},
            {"a wrong hash", [=, this](auto& f) { PutWord(f, Entry(root, 4, 2) + 4, 0x01630064); },
             "Root\\C: the name hash in its parent's list is 0x01630064, but its name's hash is 0x01630063"},
            {"a wrong parent field", [=, this](auto& f) { PutWord(f, Field(b1, 0), c); },
             "Root\\B\\B1: its parent field names block " + N(c) + ", not block " + N(bk) + ", whose list names it"},
            {"a wrong key count", [=](auto& f) { PutWord(f, 56, 9); },
             "header: the header's keyCount is 9, but the tree holds 8 keys"},
            {"a wrong free count", [=](auto& f) { PutWord(f, 64, 4); },
             "free list: its stream holds 3 entries, but the header's freeCount is 4"},
            {"a wrong sub-key count", [=, this](auto& f) { f[Field(bk, 14)] = 4; },
             "Root\\B: sub-key entry 3 names block 0, which is no key (block 0 heads the free list)"},
            {"a stream length past its chain", [=, this](auto& f) { PutWord(f, hdb::BlockOffset(c), 600); },
             "Root\\C: its stream length 600 needs 3 blocks, but its chain holds 1 block (a stream length past its chain)"},
            {"a name past its stream", [=, this](auto& f) { f[Field(c, 10)] = 200; },
             "Root: sub-key entry 2 names block " + N(c) + ", which holds no sound key header: its sub-key list offset 30 lies inside its name of 200 bytes"},
            {"an entry naming a released block", [=, this](auto& f) { PutWord(f, Entry(bk, 1, 0), free0); },
             "Root\\B: sub-key entry 0 names block " + N(free0) + ", which is a released block"},
            {"an entry beyond the file", [=, this](auto& f) { PutWord(f, Entry(bk, 1, 0), 5000); },
             "Root\\B: sub-key entry 0 names block 5000, beyond the end of the file"},
            {"a value length field off", [=, this](auto& f) { PutWord(f, Field(c, 20), 3); },
             "Root\\C: its value length field says 3 bytes, but its value holds 4"},
            {"a block count below the file", [=, this](auto& f) { PutWord(f, 52, WordAt(pristine, 52) - 1); },
             "header: the header's blockCount is " + N(WordAt(pristine, 52) - 1) + ", but the file holds " + N(WordAt(pristine, 52)) + " blocks"},
            {"a partial block at the end", [=](auto& f) { f.resize(f.size() + 10); },
             "header: the file ends in a partial block of 10 bytes"},
            {"left open by a writer", [=](auto& f) { PutWord(f, 68, 1); },
             "header: left open by a writer (openForWrite is 1): the header's counters are stale; no mirror lies beside it"},
            {"an overwritten signature", [=](auto& f) { f[3] = 'X'; },
             "header: not a database: it holds no database signature"},
        };
    }
};

}  // namespace tools_test

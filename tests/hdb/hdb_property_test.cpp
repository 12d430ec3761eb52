// A long random sequence of key and value changes, checked against an in-memory model after
// close and reopen, with every block of the file accounted for.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hdb/database_manager.h"
#include "hdb_test_support.h"

namespace {

using namespace hdb_test;

struct ModelKey {
    std::string name;
    uint32_t parent = 0;
    std::vector<uint32_t> children;
    std::vector<uint8_t> value;
};

bool SameNoCase(const std::string& a, const std::string& b) {
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

// Run without a cache, with one so small that nearly every new block makes it write another
// back, and with the default one: the same operations must leave the same bytes in each case.
class HdbPropertyTest : public KeyTest, public ::testing::WithParamInterface<uint32_t> {
    CacheLimitScope limit_{GetParam()};

protected:
    std::string RandomName() {
        static const char* const pool[] = {"a", "A", "b", "ab", "ba", "Config", "config", "Client List", "\xE9t\xE9"};
        switch (Pick(6)) {
            case 0:
                return std::string(1 + Pick(400), static_cast<char>('a' + Pick(26)));
            case 1: {
                std::string name(1 + Pick(12), ' ');
                for (char& c : name) c = static_cast<char>('A' + Pick(58));
                return name;
            }
            default:
                return pool[Pick(sizeof pool / sizeof pool[0])];
        }
    }
    std::vector<uint8_t> RandomBytes(uint32_t most) {
        std::vector<uint8_t> bytes(Pick(most + 1));
        for (auto& b : bytes) b = static_cast<uint8_t>(Pick(256));
        return bytes;
    }
    uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    uint32_t AnyKey() {
        auto it = model_.begin();
        std::advance(it, Pick(static_cast<uint32_t>(model_.size())));
        return it->first;
    }
    uint32_t AnyKeyButRoot() {
        for (;;)
            if (const uint32_t key = AnyKey(); key != 1) return key;
    }

    void CreateKey() {
        const uint32_t parent = AnyKey();
        const std::string name = RandomName();
        const int64_t key = manager_.HdbCreateKey(handle_, parent, name.c_str());
        ASSERT_GT(key, 1);
        manager_.HdbCloseKey(handle_, static_cast<uint32_t>(key));
        model_[static_cast<uint32_t>(key)] = ModelKey{name, parent, {}, {}};
        model_[parent].children.push_back(static_cast<uint32_t>(key));
    }
    void RenameKey() {
        const uint32_t key = AnyKeyButRoot();
        const std::string name = RandomName();
        ASSERT_EQ(manager_.HdbRenameKey(handle_, key, name.c_str()), 0);
        model_[key].name = name;
    }
    void DeleteKey() {
        const uint32_t key = AnyKeyButRoot();
        ASSERT_EQ(manager_.HdbDeleteKey(handle_, key), 0);
        auto& siblings = model_[model_[key].parent].children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), key));
        std::vector<uint32_t> pending{key};
        while (!pending.empty()) {
            const uint32_t gone = pending.back();
            pending.pop_back();
            pending.insert(pending.end(), model_[gone].children.begin(), model_[gone].children.end());
            model_.erase(gone);
        }
    }
    void ReplaceValue() {
        const uint32_t key = AnyKey();
        const auto bytes = RandomBytes(2000);
        SetValue(key, bytes);
        model_[key].value = bytes;
    }
    // Writes at a random place in or just past the value, leaving the key open at times.
    void PatchValue() {
        const uint32_t key = AnyKey();
        auto& value = model_[key].value;
        const auto offset = static_cast<uint32_t>(Pick(static_cast<uint32_t>(value.size()) + 1));
        const auto bytes = RandomBytes(600);
        ASSERT_EQ(manager_.HdbSeekValue(handle_, key, offset), 0);
        ASSERT_EQ(manager_.HdbWriteValue(handle_, key, bytes.data(), static_cast<uint32_t>(bytes.size())),
                  static_cast<int32_t>(bytes.size()));
        if (value.size() < offset + bytes.size()) value.resize(offset + bytes.size());
        std::copy(bytes.begin(), bytes.end(), value.begin() + offset);
        if (Pick(3) != 0) manager_.HdbCloseKey(handle_, key);
    }

    void CheckAgainstModel() {
        ASSERT_EQ(manager_.GetKeyCount(handle_), static_cast<int32_t>(model_.size()));
        for (const auto& [key, expected] : model_) {
            SCOPED_TRACE(key);
            EXPECT_EQ(Name(key), expected.name);
            EXPECT_EQ(SubKeys(key), expected.children);
            EXPECT_EQ(Value(key), expected.value);
            if (key != 1) {
                EXPECT_EQ(manager_.HdbGetParentKey(handle_, key), expected.parent);
            }
            for (const uint32_t child : expected.children) {
                const std::string& name = model_[child].name;
                int64_t exact = -1, noCase = -1;
                for (const uint32_t other : expected.children) {
                    if (exact < 0 && model_[other].name == name) exact = other;
                    if (noCase < 0 && SameNoCase(model_[other].name, name)) noCase = other;
                }
                EXPECT_EQ(manager_.HdbFindKey(handle_, key, name.c_str()), exact);
                EXPECT_EQ(manager_.HdbFindKeyNoCase(handle_, key, name.c_str()), noCase);
            }
        }
        EXPECT_EQ(db().nodeHead, nullptr);
        EXPECT_EQ(db().lockWord, 0);
    }

    // Every block is in exactly one chain or in the free list, and nothing else.
    void CheckBlocksAccountedFor() {
        const auto file = File();
        const uint32_t blockCount = WordAt(file, 52);
        ASSERT_EQ(file.size(), BlockOffset(blockCount));
        std::vector<int> owners(blockCount, 0);
        auto own = [&](uint32_t block) {
            ASSERT_LT(block, blockCount);
            ++owners[block];
        };
        for (const uint32_t block : ReadRawChain(file, WordAt(file, 60)).blocks) own(block);
        for (const uint32_t block : RawFreeList(file)) own(block);
        for (const auto& [key, unused] : model_)
            for (const uint32_t block : ReadRawChain(file, key).blocks) own(block);
        for (uint32_t block = 0; block < blockCount; ++block) EXPECT_EQ(owners[block], 1) << "block " << block;
        EXPECT_EQ(WordAt(file, 56), model_.size());
    }

    std::mt19937 rng_{20240611};
    std::map<uint32_t, ModelKey> model_;
};

TEST_P(HdbPropertyTest, RandomChangesMatchTheModel) {
    ASSERT_EQ(manager_.HdbCreateKey(handle_, 0, "Root"), 1);
    manager_.HdbCloseKey(handle_, 1);
    model_[1] = ModelKey{"Root", 0, {}, {}};
    for (int step = 1; step <= 600; ++step) {
        SCOPED_TRACE(step);
        const uint32_t roll = Pick(100);
        if (roll < 40 || model_.size() < 3) {
            CreateKey();
        } else if (roll < 52) {
            RenameKey();
        } else if (roll < 60) {
            DeleteKey();
        } else if (roll < 80) {
            ReplaceValue();
        } else {
            PatchValue();
        }
        if (HasFatalFailure()) return;
        if (step % 150 == 0) {
            Close();
            CheckBlocksAccountedFor();
            ASSERT_GE(Open(ModeReadWrite), 0);
            CheckAgainstModel();
        }
    }
    EXPECT_GT(model_.size(), 20u);
    Close();
    CheckBlocksAccountedFor();
    // The same operations always leave the same bytes (recorded before any speed work, when
    // every block transfer went to the file).
    EXPECT_EQ(testing_support::Digest(File()), "76032:1810fca5df96273f");
    ASSERT_GE(Open(ModeReadOnly), 0);
    CheckAgainstModel();
}

INSTANTIATE_TEST_SUITE_P(CacheLimits, HdbPropertyTest, ::testing::Values(0u, 3u, kDefaultBlockCacheLimit),
                         [](const auto& info) { return "Blocks" + std::to_string(info.param); });

}  // namespace

// What the engine remembers between loads of a key (where its chain's places lie, the index of
// its sub-keys' names) must never change a result: lookups find the first-added of equal names
// through creates, renames and deletes, and reads follow a chain that was cut and grown again.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hdb_test_support.h"

using namespace hdb;

namespace {

using namespace hdb_test;
using platform::CallKind;

class NodeCacheTest : public KeyTest {
protected:
    std::mt19937 rng_{17};
    uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
};

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

TEST_F(NodeCacheTest, IndexedLookupsFindTheFirstAddedThroughEveryChange) {
    const char* const pool[] = {"a", "A", "b", "B", "ab", "Ab", "aB", "ba", "x", "long name with blanks"};
    const uint32_t parent = Create(Root(), "parent");
    struct Child {
        uint32_t key;
        std::string name;
    };
    std::vector<Child> children;  // in list order
    auto check = [&](int step) {
        for (const char* name : pool) {
            int64_t exact = -1, noCase = -1;
            for (const Child& c : children) {
                if (exact < 0 && c.name == name) exact = c.key;
                if (noCase < 0 && SameNoCase(c.name, name)) noCase = c.key;
            }
            ASSERT_EQ(manager_.HdbFindKey(handle_, parent, name), exact) << name << " at step " << step;
            ASSERT_EQ(manager_.HdbFindKeyNoCase(handle_, parent, name), noCase) << name << " at step " << step;
        }
    };
    for (int i = 0; i < 40; ++i) {
        const std::string name = pool[Pick(10)];
        children.push_back({Create(parent, name), name});
    }
    check(0);  // the first lookup of a key with this many sub-keys indexes them
    for (int step = 1; step <= 300; ++step) {
        const uint32_t roll = Pick(10);
        if (roll < 4 || children.size() < 20) {
            const std::string name = pool[Pick(10)];
            children.push_back({Create(parent, name), name});
        } else if (roll < 7) {
            Child& c = children[Pick(static_cast<uint32_t>(children.size()))];
            c.name = pool[Pick(10)];
            ASSERT_EQ(manager_.HdbRenameKey(handle_, c.key, c.name.c_str()), 0);
        } else {
            const size_t at = Pick(static_cast<uint32_t>(children.size()));
            ASSERT_EQ(manager_.HdbDeleteKey(handle_, children[at].key), 0);
            children.erase(children.begin() + static_cast<long>(at));
        }
        check(step);
        if (HasFatalFailure()) return;
        if (step % 100 == 0) {
            Reopen();  // nothing remembered survives the close; the file alone gives the same
            check(step);
        }
    }
}

// A value read once (its chain's places remembered), cut back and grown again over other
// blocks, reads as written, before and after a reopen.
TEST_F(NodeCacheTest, ReadsFollowAChainThatWasCutAndGrownAgain) {
    const uint32_t root = Root();
    const uint32_t key = Create(root, "value");
    SetValue(key, Pattern(248 * 12, 1));
    EXPECT_EQ(Value(key), Pattern(248 * 12, 1));
    ASSERT_EQ(manager_.HdbClearValue(handle_, key), 0);
    // Another key takes the released blocks, so the value's new blocks come from elsewhere.
    const uint32_t other = Create(root, "other");
    SetValue(other, Pattern(248 * 12, 2));
    SetValue(key, Pattern(248 * 9 + 100, 3));
    EXPECT_EQ(Value(key), Pattern(248 * 9 + 100, 3));
    EXPECT_EQ(Value(other), Pattern(248 * 12, 2));
    Reopen();
    EXPECT_EQ(Value(key), Pattern(248 * 9 + 100, 3));
    EXPECT_EQ(Value(other), Pattern(248 * 12, 2));
}



// The node cache takes its memory from the platform's allocator. When that runs out part-way
// through building a name index, the engine forgets instead of remembering, and no lookup then
// or later answers wrongly. Without a block cache, so that every allocation of the lookup is the
// engine's or the node cache's.
class UncachedNodeCacheTest : public NodeCacheTest {
    CacheLimitScope uncached_{0};
};

TEST_F(UncachedNodeCacheTest, LookupsAnswerRightWhenTheNodeCacheLacksMemory) {
    const uint32_t parent = Create(Root(), "parent");
    std::vector<uint32_t> keys;
    for (int i = 0; i < 40; ++i) keys.push_back(Create(parent, NumberedName("k", i)));
    Reopen();
    platform::ResetCallCounts();
    ASSERT_EQ(manager_.HdbFindKey(handle_, parent, "k7"), keys[7]);  // loads and indexes the list
    const uint64_t allocations = platform::CallCount(CallKind::Allocate);
    uint64_t absorbed = 0;  // failures the lookup answered through, without lacking memory
    for (uint64_t nth = 1; nth <= allocations; ++nth) {
        Reopen();
        platform::InjectFault(CallKind::Allocate, static_cast<uint32_t>(nth));
        const int64_t found = manager_.HdbFindKey(handle_, parent, "k7");
        platform::ClearFaults();
        if (db().lookupFailed == 0) {
            EXPECT_EQ(found, keys[7]) << "allocation " << nth;
            ++absorbed;
        }
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(manager_.HdbFindKey(handle_, parent, NumberedName("k", i).c_str()), keys[i])
                << "allocation " << nth << ", key " << i;
    }
    EXPECT_GT(absorbed, 0u) << "no allocation of the lookup was the node cache's";
}

}  // namespace

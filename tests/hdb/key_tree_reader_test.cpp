// The one reader of key trees. Damaged lists (keys listed again, cut lists, unreadable keys)
// are met in tests/tools, whose listings show every fault the walk reports; here, what its
// other users rely on: a walk from any key, sub-trees left out unread, values by size.
#include "hdb/key_tree_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hdb_test_support.h"

using namespace hdb;

namespace {

using namespace hdb_test;

class Recorder : public KeyTreeVisitor {
public:
    explicit Recorder(std::string skipped = "") : skipped_(std::move(skipped)) {}
    bool Descend(const WalkedKey& key) override { return key.name != skipped_; }
    bool OnKey(const WalkedKey& key) override {
        seen += std::string(key.depth - 1, ' ') + key.name + (key.subKeysCut ? " cut" : "") + "\n";
        return true;
    }
    bool OnLeave(const WalkedKey& key) override {
        seen += std::string(key.depth - 1, ' ') + "/" + key.name + "\n";
        return true;
    }
    std::string seen;

private:
    std::string skipped_;
};

class KeyTreeReaderTest : public KeyTest {
protected:
    void SetUp() override {
        KeyTest::SetUp();
        root_ = Root();
        a_ = Create(root_, "A");
        Create(a_, "A1");
        SetValue(Create(a_, "A2"), std::vector<uint8_t>(300, 'v'));
        Create(root_, "B");
    }
    uint32_t root_ = 0, a_ = 0;
};

TEST_F(KeyTreeReaderTest, WalksFromAnyKeyAndLeavesOutWhatTheVisitorSkips) {
    KeyTreeReader reader(manager_, handle_);
    Recorder whole;
    EXPECT_EQ(reader.Walk(root_, whole, UINT64_MAX), 0);
    EXPECT_EQ(whole.seen, "Root\n A\n  A1\n  /A1\n  A2\n  /A2\n /A\n B\n /B\n/Root\n");

    Recorder below;
    EXPECT_EQ(reader.Walk(a_, below, UINT64_MAX), 0);
    EXPECT_EQ(below.seen, "A\n A1\n /A1\n A2\n /A2\n/A\n");

    // A skipped key is seen and left, its sub-keys never listed (so never called cut).
    Recorder skipping("A");
    EXPECT_EQ(reader.Walk(root_, skipping, UINT64_MAX), 0);
    EXPECT_EQ(skipping.seen, "Root\n A\n /A\n B\n /B\n/Root\n");
}

TEST_F(KeyTreeReaderTest, ValuesAreReadWholeOrNotAtAllAboveTheLimit) {
    KeyTreeReader reader(manager_, handle_);
    const uint32_t a2 = static_cast<uint32_t>(reader.Find(a_, "A2"));
    const KeyTreeReader::StoredValue whole = reader.Value(a2);
    EXPECT_EQ(whole.read, KeyTreeReader::StoredValue::Whole);
    EXPECT_EQ(whole.bytes, std::string(300, 'v'));
    const KeyTreeReader::StoredValue large = reader.Value(a2, 299);
    EXPECT_EQ(large.read, KeyTreeReader::StoredValue::TooLarge);
    EXPECT_EQ(large.size, 300u);
    EXPECT_TRUE(large.bytes.empty());
    EXPECT_EQ(reader.Find(a_, "missing"), -1);
    EXPECT_EQ(reader.SubKeys(root_).size(), 2u);
    EXPECT_EQ(reader.Name(a_), "A");
}

}  // namespace

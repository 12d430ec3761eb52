// The file an engine session leaves is fixed byte for byte by its operations: where each block
// goes, what the free-block list holds and what stays behind in spare room are part of the
// format a server reads. These workloads reuse many released blocks; their files are compared
// with digests of the files the engine wrote before any speed work.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hdb_test_support.h"

using namespace hdb;

namespace {

using namespace hdb_test;

// Without a cache, under a tiny one and under the default one.
class FileBytesTest : public KeyTest, public ::testing::WithParamInterface<uint32_t> {
    CacheLimitScope limit_{GetParam()};

protected:
    // Creates `count` keys under `parent`, each with a value of a size that varies from none to
    // several blocks; their ids.
    std::vector<uint32_t> Fill(uint32_t parent, int count, uint32_t seed) {
        std::vector<uint32_t> keys;
        for (int i = 0; i < count; ++i) {
            const std::string name = "k" + std::to_string(seed) + "-" + std::to_string(i);
            const uint32_t key = Create(parent, name);
            const size_t size = (static_cast<size_t>(i) * 37 + seed * 11) % 700;
            if (size > 0) SetValue(key, Pattern(size, seed + static_cast<uint32_t>(i)));
            keys.push_back(key);
        }
        return keys;
    }
};

TEST_P(FileBytesTest, ChurnThroughTheFreeListGivesTheRecordedFile) {
    const uint32_t root = Root();
    std::vector<uint32_t> parents;
    for (int p = 0; p < 12; ++p) parents.push_back(Create(root, "parent " + std::to_string(p)));
    for (size_t p = 0; p < parents.size(); ++p) Fill(parents[p], 60, static_cast<uint32_t>(p));
    // Whole subtrees go back to the free list (well over 62 entries, so its chain grows), then
    // new keys take them again, part of the way, and more go back between takes.
    for (size_t p = 0; p < parents.size(); p += 3) ASSERT_EQ(manager_.HdbDeleteKey(handle_, parents[p]), 0);
    const std::vector<uint32_t> refilled = Fill(parents[1], 150, 100);
    for (size_t i = 0; i < refilled.size(); i += 4) ASSERT_EQ(manager_.HdbDeleteKey(handle_, refilled[i]), 0);
    for (size_t i = 1; i < refilled.size(); i += 4) ASSERT_EQ(manager_.HdbClearValue(handle_, refilled[i]), 0);
    Fill(parents[2], 90, 200);
    ASSERT_EQ(manager_.HdbRenameKey(handle_, parents[4], "a much longer name for the fifth parent"), 0);
    Close();
    EXPECT_GT(WordAt(File(), 64), 62u) << "the free list must span more than its first block";
    EXPECT_EQ(testing_support::Digest(File()), "436224:e893c6b0eaa679e2");

    // Reopened, the list is taken from where the file left it.
    ASSERT_GE(Open(ModeReadWrite), 0);
    Fill(parents[5], 40, 300);
    ASSERT_EQ(manager_.HdbDeleteKey(handle_, parents[7]), 0);
    Fill(root, 30, 400);
    Close();
    EXPECT_EQ(testing_support::Digest(File()), "436224:ac7e3af07c49f8fd");
}

INSTANTIATE_TEST_SUITE_P(CacheLimits, FileBytesTest, ::testing::Values(0u, 3u, kDefaultBlockCacheLimit),
                         [](const auto& info) { return "Blocks" + std::to_string(info.param); });

}  // namespace

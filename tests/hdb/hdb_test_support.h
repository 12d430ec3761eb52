// Helpers shared by the database engine's tests: a scratch database, raw file images and a
// reader that follows chains in the file's bytes without going through the engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hdb/block_cache.h"
#include "hdb/block_io.h"
#include "hdb/chain.h"
#include "hdb/database_manager.h"
#include "hdb/database_record.h"
#include "hdb/database_table.h"
#include "hdb/format.h"
#include "hdb/free_list.h"
#include "platform/testing/fault_injection.h"
#include "test_support.h"

namespace hdb_test {

using testing_support::ReadBytes;
using testing_support::WordAt;
using testing_support::WriteBytes;

// Databases opened while it lives get a block cache of `blocks` (0: none, so that every block
// transfer is one transfer of the file, which is what tests of a single failed transfer need).
class CacheLimitScope {
public:
    explicit CacheLimitScope(uint32_t blocks) : saved_(hdb::BlockCacheLimit()) { hdb::SetBlockCacheLimit(blocks); }
    ~CacheLimitScope() { hdb::SetBlockCacheLimit(saved_); }
    CacheLimitScope(const CacheLimitScope&) = delete;
    CacheLimitScope& operator=(const CacheLimitScope&) = delete;

private:
    uint32_t saved_;
};

// "k" and 3 give "k3". Built by appending: GCC 12 at -O3 warns (-Wrestrict, a false alarm) on
// a literal added to a temporary string.
inline std::string NumberedName(const char* prefix, int number) {
    std::string name = prefix;
    name += std::to_string(number);
    return name;
}


inline void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4);
    std::memcpy(bytes.data() + offset, &value, 4);
}

// A database file of `blocks` zeroed blocks with a clean header; block 0 is an empty free list.
inline std::vector<uint8_t> DatabaseImage(uint32_t blocks) {
    std::vector<uint8_t> image(hdb::BlockOffset(blocks), 0);
    std::memcpy(image.data(), hdb::kDatabaseSignature, sizeof hdb::kDatabaseSignature - 1);
    PutWord(image, 36, 1);      // formatNumber
    PutWord(image, 44, 72);     // headerSize
    PutWord(image, 52, blocks); // blockCount
    return image;
}

// Sets the two link words of a block in an image.
inline void Link(std::vector<uint8_t>& image, uint32_t block, uint32_t word0, uint32_t word1) {
    PutWord(image, hdb::BlockOffset(block), word0);
    PutWord(image, hdb::BlockOffset(block) + 4, word1);
}

// The blocks of a chain and its stream, read from file bytes (at most `limit` blocks).
struct RawChain {
    std::vector<uint32_t> blocks;
    std::vector<uint8_t> stream;
};

inline RawChain ReadRawChain(const std::vector<uint8_t>& file, uint32_t first, size_t limit = 100000) {
    RawChain chain;
    const uint32_t length = WordAt(file, hdb::BlockOffset(first));
    // Block 0 heads the free list and is never anyone's successor.
    for (uint32_t block = first; chain.blocks.size() < limit;) {
        chain.blocks.push_back(block);
        const size_t at = hdb::BlockOffset(block);
        chain.stream.insert(chain.stream.end(), file.begin() + static_cast<long>(at) + 8,
                            file.begin() + static_cast<long>(at) + 256);
        block = WordAt(file, at + 4);
        if (block == 0) break;
    }
    if (chain.stream.size() > length) chain.stream.resize(length);
    return chain;
}

// The free-block list's entries as stored in the file.
inline std::vector<uint32_t> RawFreeList(const std::vector<uint8_t>& file) {
    const uint32_t count = WordAt(file, 64);
    const RawChain list = ReadRawChain(file, WordAt(file, 60));
    std::vector<uint32_t> entries;
    for (uint32_t i = 0; i < count && 4 * i + 4 <= list.stream.size(); ++i) entries.push_back(WordAt(list.stream, 4 * i));
    return entries;
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

// A database in a scratch folder, open for writing through one manager.
class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { Open(hdb::ModeReadWrite); }
    void TearDown() override {
        platform::ClearFaults();
        if (handle_ >= 0) manager_.CloseDatabase(handle_);
    }

    int32_t Open(int32_t mode) {
        handle_ = manager_.OpenDatabase(path_.c_str(), mode);
        return handle_;
    }
    void Close() {
        platform::ClearFaults();
        manager_.CloseDatabase(handle_);
        handle_ = -1;
    }
    void Reopen(int32_t mode = hdb::ModeReadWrite) {
        Close();
        ASSERT_GE(Open(mode), 0);
    }
    hdb::DatabaseRecord& db() { return *hdb::LookupDatabase(handle_); }
    // The file as it stands once every block the open database has cached is written back.
    std::vector<uint8_t> File() {
        if (handle_ >= 0 && hdb::LookupDatabase(handle_)) hdb::BlockCacheFlush(db());
        return ReadBytes(path_);
    }

    testing_support::ScratchDir dir_;
    std::string path_ = dir_ / "test.hdb";
    hdb::DatabaseManager manager_;
    int32_t handle_ = -1;
};

}  // namespace hdb_test

namespace hdb_test {

// A database with the engine's key and value entry points at hand.
class KeyTest : public DatabaseTest {
protected:
    // Creates a key and closes it again; its id.
    uint32_t Create(uint32_t parent, const std::string& name) {
        const int64_t key = manager_.HdbCreateKey(handle_, parent, name.c_str());
        EXPECT_GT(key, 0) << name;
        manager_.HdbCloseKey(handle_, static_cast<uint32_t>(key));
        return static_cast<uint32_t>(key);
    }
    uint32_t Root() { return Create(0, "Root"); }
    void SetValue(uint32_t key, const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(manager_.HdbClearValue(handle_, key), 0);
        ASSERT_EQ(manager_.HdbSeekValue(handle_, key, 0), 0);
        ASSERT_EQ(manager_.HdbWriteValue(handle_, key, bytes.data(), static_cast<uint32_t>(bytes.size())),
                  static_cast<int32_t>(bytes.size()));
        manager_.HdbCloseKey(handle_, key);
    }
    std::vector<uint8_t> Value(uint32_t key) {
        std::vector<uint8_t> bytes(manager_.HdbGetValueSize(handle_, key) + 100);
        if (manager_.HdbSeekValue(handle_, key, 0) != 0) return {};
        const int32_t got = manager_.HdbReadValue(handle_, key, bytes.data(), static_cast<uint32_t>(bytes.size()));
        manager_.HdbCloseKey(handle_, key);
        bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return bytes;
    }
    std::string Name(uint32_t key) {
        std::vector<char> buffer(70000);
        const int32_t got = manager_.HdbGetKeyName(handle_, key, buffer.data(), static_cast<uint32_t>(buffer.size()));
        return got < 0 ? std::string("<none>") : std::string(buffer.data(), static_cast<size_t>(got));
    }
    std::vector<uint32_t> SubKeys(uint32_t key) {
        std::vector<uint32_t> keys;
        for (int64_t sub = manager_.HdbFirstSubKey(handle_, key); sub >= 0 && keys.size() < 100000;
             sub = manager_.HdbNextSubKey(handle_, key, static_cast<uint32_t>(sub)))
            keys.push_back(static_cast<uint32_t>(sub));
        return keys;
    }
};

// Key tests that make one particular block transfer fail need each to be a transfer of the file.
class UncachedKeyTest : public KeyTest {
    CacheLimitScope uncached_{0};
};

// The parsed header of a key in the file's bytes.
struct RawKey {
    uint32_t length;
    uint32_t next;
    std::vector<uint8_t> stream;
    uint32_t Word(size_t offset) const { return WordAt(stream, offset); }
    uint16_t Half(size_t offset) const { return static_cast<uint16_t>(stream.at(offset) | stream.at(offset + 1) << 8); }
    uint32_t ValueOffset() const { return static_cast<uint32_t>(stream.at(18)) << 16 | Half(16); }
    uint32_t SubKeyCount() const { return static_cast<uint32_t>(stream.at(19)) << 16 | Half(14); }
};

inline RawKey ReadRawKey(const std::vector<uint8_t>& file, uint32_t key) {
    const RawChain chain = ReadRawChain(file, key);
    return RawKey{WordAt(file, hdb::BlockOffset(key)), WordAt(file, hdb::BlockOffset(key) + 4), chain.stream};
}

}  // namespace hdb_test

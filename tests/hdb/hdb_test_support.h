// Helpers shared by the database engine's tests: a scratch database, raw file images and a
// reader that follows chains in the file's bytes without going through the engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hdb/block_storage.h"
#include "hdb/chain.h"
#include "hdb/database_manager.h"
#include "platform/fault_injection.h"
#include "test_support.h"

namespace hdb_test {

using testing_support::ReadBytes;
using testing_support::WordAt;
using testing_support::WriteBytes;

inline size_t BlockOffset(uint32_t block) { return (static_cast<size_t>(block) + 1) * kBlockSize; }

inline void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4);
    std::memcpy(bytes.data() + offset, &value, 4);
}

// A database file of `blocks` zeroed blocks with a clean header; block 0 is an empty free list.
inline std::vector<uint8_t> DatabaseImage(uint32_t blocks) {
    std::vector<uint8_t> image(BlockOffset(blocks), 0);
    std::memcpy(image.data(), kDatabaseSignature, sizeof kDatabaseSignature - 1);
    PutWord(image, 36, 1);      // formatNumber
    PutWord(image, 44, 72);     // headerSize
    PutWord(image, 52, blocks); // blockCount
    return image;
}

// Sets the two link words of a block in an image.
inline void Link(std::vector<uint8_t>& image, uint32_t block, uint32_t word0, uint32_t word1) {
    PutWord(image, BlockOffset(block), word0);
    PutWord(image, BlockOffset(block) + 4, word1);
}

// The blocks of a chain and its stream, read from file bytes (at most `limit` blocks).
struct RawChain {
    std::vector<uint32_t> blocks;
    std::vector<uint8_t> stream;
};

inline RawChain ReadRawChain(const std::vector<uint8_t>& file, uint32_t first, size_t limit = 100000) {
    RawChain chain;
    const uint32_t length = WordAt(file, BlockOffset(first));
    // Block 0 heads the free list and is never anyone's successor.
    for (uint32_t block = first; chain.blocks.size() < limit;) {
        chain.blocks.push_back(block);
        const size_t at = BlockOffset(block);
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
    void SetUp() override { Open(ModeReadWrite); }
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
    void Reopen(int32_t mode = ModeReadWrite) {
        Close();
        ASSERT_GE(Open(mode), 0);
    }
    DatabaseRecord& db() { return *LookupDatabase(handle_); }
    std::vector<uint8_t> File() const { return ReadBytes(path_); }

    testing_support::ScratchDir dir_;
    std::string path_ = dir_ / "test.hdb";
    DatabaseManager manager_;
    int32_t handle_ = -1;
};

}  // namespace hdb_test

// The database file format: everything that decides a byte of a database file, in one place.
// The engine (hdb/), the tools that read files as raw blocks (tools/) and the application take
// the format from here; a change to the format is a change to this file.
//
// The file
//   A database file is a 256-byte header block followed by blocks of 256 bytes; block N lies at
//   file offset (N + 1) * 256. The header block's first 72 bytes are a DatabaseHeader; its other
//   184 bytes are zero and never read. Every word is little-endian.
//
// Blocks and chains
//   Every block belongs to one chain: a doubly linked list of blocks whose payloads (bytes 8..255,
//   248 of them) form one byte stream in chain order. Link word 0 of a chain's first block holds
//   the stream's length; in every later block it names the block before. Link word 1 names the
//   next block, 0 for none (block 0 is always the free list's first block, so no other chain can
//   continue into it). A block given back holds 0xFFFFFFFF in link word 0 and zeros after it;
//   a block the file gains is written as zeros first.
//
// The free-block list
//   The chain whose first block the header names in freeListBlock (always block 0) holds the
//   numbers of the blocks given back, four bytes each, freeCount of them from the stream's start.
//   A new block is the list's first entry when there is one, else block blockCount.
//
// Keys
//   A key is one chain; its first block's number is the key's id. Its stream starts with a
//   28-byte KeyHeader, then the name and a zero byte, then the sub-key list (8-byte entries:
//   the sub-key's id and the NameHash of its name, in the order the keys were created), then
//   the value. The header's offsets are ordered: nameOffset (28) + nameLength + 1 <=
//   subKeyListOffset <= valueOffset, and the entries in use fit between the list and the value.
//   The first key made in a database is its root (key 1 in every file made from new); no list
//   names it, and its parent word holds whatever its creator passed. Every other key is named
//   by exactly one entry of its parent's list, and its parent word names that parent. keyCount
//   in the header counts every key, the root too.
//
// The mark of a writer
//   openForWrite is 1 in the file from the moment a writer opens it until its clean close; a
//   file that says 0 was closed cleanly. Before a writer changes a database it copies the whole
//   file beside it, to the database's path with ".mirror" appended; the clean close removes the
//   copy, and recovery puts it back in place of a file a writer left marked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support/ascii_case.h"

namespace hdb {

static_assert(std::endian::native == std::endian::little, "database words are stored little-endian");

// ---- Blocks ----

constexpr uint32_t kBlockSize = 256;
constexpr uint32_t kLinkWords = 2;                                      // previous (or length), next
constexpr uint32_t kChainPayload = kBlockSize - kLinkWords * 4;         // block bytes 8..255
constexpr uint32_t kReleasedBlockMark = 0xFFFFFFFFu;                    // link word 0 of a block given back

// File offset of block `block`: the header block comes first.
constexpr int64_t BlockOffset(uint32_t block) { return (static_cast<int64_t>(block) + 1) * kBlockSize; }

// Little-endian words of a raw block (or of any bytes).
inline uint32_t BlockWord(const uint8_t* block, int index) {
    uint32_t value;
    std::memcpy(&value, block + 4 * index, 4);
    return value;
}
inline void SetBlockWord(uint8_t* block, int index, uint32_t value) { std::memcpy(block + 4 * index, &value, 4); }

// ---- The header ----

constexpr char kDatabaseSignature[] = "Vantrell Hierarchal Database\r\n";
constexpr size_t kSignatureBytes = 36;  // the text and the zero bytes up to formatNumber
constexpr uint32_t kFormatNumber = 1;
constexpr uint32_t kHeaderImageSize = 72;
constexpr uint32_t kHeaderBlockSize = kBlockSize;

// Bytes 0..71 of the file.
struct DatabaseHeader {
    char signature[kSignatureBytes];
    uint32_t formatNumber;
    int32_t appValue;
    uint32_t headerSize;  // always 72
    uint32_t reserved;
    uint32_t blockCount;  // blocks after the header block, given back ones too
    uint32_t keyCount;
    uint32_t freeListBlock;  // first block of the free-block list's chain: always 0
    uint32_t freeCount;      // entries of the free-block list
    uint32_t openForWrite;   // 1 while a writer has it open
};
static_assert(sizeof(DatabaseHeader) == kHeaderImageSize);
static_assert(sizeof kDatabaseSignature <= kSignatureBytes);

// ---- Keys ----

constexpr uint32_t kRootKey = 1;
constexpr uint32_t kFreeListEntrySize = 4;

// 28 bytes at stream offset 0 of a key. The engine uses the last word in memory as the
// header-dirty flag; in the file it is whatever was written last and is never read.
struct KeyHeader {
    uint32_t parent;
    uint16_t attr1;
    uint16_t attr2;
    uint16_t nameOffset;       // always 28
    uint16_t nameLength;       // without the terminating zero
    uint16_t subKeyListOffset;
    uint16_t subKeyCountLow;   // sub-key count, bits 0-15
    uint16_t valueOffsetLow;   // value offset, bits 0-15
    uint8_t valueOffsetHigh;   // value offset, bits 16-23
    uint8_t subKeyCountHigh;   // sub-key count, bits 16-23
    uint32_t valueLength;
    uint32_t headerMark;
};
static_assert(sizeof(KeyHeader) == 28);

constexpr uint32_t kKeyHeaderSize = 28;
constexpr uint32_t kSubKeyEntrySize = 8;    // key id, name hash
constexpr uint32_t kSubKeyListGrowth = 80;  // a list grows by room for ten entries
constexpr uint32_t kMaxField24 = 0xFFFFFF;  // value offset and sub-key count
constexpr uint32_t kMaxField16 = 0xFFFF;    // sub-key list offset
// A name must keep the list offset (28 + length + 1) and, at creation, the value offset (80
// further) within their 16-bit fields; longer names (up to what the list offset allows) are
// reached by renaming.
constexpr uint32_t kMaxNameAtCreate = kMaxField16 - kKeyHeaderSize - 1 - kSubKeyListGrowth;

// The 24-bit fields, each split over a 16-bit and an 8-bit part; every update sets both.
inline uint32_t ValueOffset(const KeyHeader& header) {
    return static_cast<uint32_t>(header.valueOffsetHigh) << 16 | header.valueOffsetLow;
}
inline void SetValueOffset(KeyHeader& header, uint32_t offset) {
    header.valueOffsetLow = static_cast<uint16_t>(offset);
    header.valueOffsetHigh = static_cast<uint8_t>(offset >> 16);
}
inline uint32_t SubKeyCount(const KeyHeader& header) {
    return static_cast<uint32_t>(header.subKeyCountHigh) << 16 | header.subKeyCountLow;
}
inline void SetSubKeyCount(KeyHeader& header, uint32_t count) {
    header.subKeyCountLow = static_cast<uint16_t>(count);
    header.subKeyCountHigh = static_cast<uint8_t>(count >> 16);
}

// The hash stored beside each sub-key list entry: the count, the xor and the sum of the name's
// bytes, each taken as a signed byte with A-Z folded to a-z.
inline uint32_t NameHash(const char* name, size_t length) {
    uint32_t count = 0;
    uint32_t mixed = 0;
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) {
        const int32_t value = static_cast<int8_t>(support::AsciiLower(name[i]));  // bytes 0x80..0xFF count negative
        ++count;
        mixed ^= static_cast<uint32_t>(value);
        sum += static_cast<uint32_t>(value);
    }
    return (count & 0xFF) << 24 | (mixed & 0xFF) << 16 | (sum & 0xFFFF);
}
inline uint32_t NameHash(const char* name) { return NameHash(name, std::strlen(name)); }

// ---- The mirror ----

constexpr char kMirrorSuffix[] = ".mirror";
// The new mirror is written under this name beside the database, flushed and only then renamed
// to the mirror's: a good mirror is never overwritten in place. A leftover one is no mirror.
constexpr char kMirrorDraftSuffix[] = ".mirror-new";

}  // namespace hdb

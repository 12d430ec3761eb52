// A database file read as raw 256-byte blocks through the file service, for the tools that must
// see the structure itself (verify, stat, salvage) rather than what the engine makes of it.
// Nothing here writes.
#pragma once

#include <cstdint>
#include <string>

#include "hdb/format.h"

namespace fileservice {
class FileService;
}  // namespace fileservice

namespace tools {

// Little-endian words of raw bytes.
uint32_t RawWord(const uint8_t* bytes);
uint16_t RawHalf(const uint8_t* bytes);

class RawDatabase {
public:
    explicit RawDatabase(fileservice::FileService& files);
    ~RawDatabase();
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // Opens the file read-only and reads its header block. 0, or -1 when the file cannot be
    // opened or read (error() says why; a file shorter than its header is not an error here).
    int32_t Open(const char* path);
    const std::string& error() const { return error_; }
    fileservice::FileService& files() const { return files_; }
    const std::string& path() const { return path_; }

    // The first 72 bytes as the header fields; zeros where the file is shorter.
    const hdb::DatabaseHeader& header() const { return header_; }
    // The whole 256-byte header block as read (zeros past the end of a short file).
    const uint8_t* headerBlock() const { return headerBlock_; }
    uint32_t headerBytes() const { return headerBytes_; }
    uint64_t fileSize() const { return fileSize_; }
    // Whole blocks after the header block, and the bytes of a partial one at the end.
    uint32_t blocksInFile() const { return blocksInFile_; }
    uint32_t trailingBytes() const { return trailingBytes_; }

    // Reads block `block` (below blocksInFile()). False when it cannot be read; readFailed()
    // then stays true.
    bool ReadBlock(uint32_t block, uint8_t* buffer);
    bool readFailed() const { return readFailed_; }

private:
    fileservice::FileService& files_;
    int32_t file_ = -1;
    std::string path_;
    std::string error_;
    hdb::DatabaseHeader header_{};
    uint8_t headerBlock_[hdb::kBlockSize] = {};
    uint32_t headerBytes_ = 0;
    uint64_t fileSize_ = 0;
    uint32_t blocksInFile_ = 0;
    uint32_t trailingBytes_ = 0;
    bool readFailed_ = false;
    // The last block read: the walks often read a block's neighbour twice in a row.
    uint32_t cachedBlock_ = hdb::kReleasedBlockMark;
    uint8_t cache_[hdb::kBlockSize] = {};
};

// Why the file is not a database ("" when it is one): no signature, a header size field other
// than 72, no room for block 0, or a header that counts more blocks than the file holds.
std::string NotADatabaseReason(const RawDatabase& raw);

// The note for a file that a writer left open (openForWrite 1), naming whether a mirror lies
// beside it; "" when the file was closed cleanly.
std::string LeftOpenNote(fileservice::FileService& files, const RawDatabase& raw);

}  // namespace tools

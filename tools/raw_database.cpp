#include "tools/raw_database.h"

#include <cstring>

#include "fileservice/file_service.h"

using namespace fileservice;
using namespace hdb;

namespace tools {

namespace {

bool AllZero(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

}  // namespace

uint32_t RawWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t RawHalf(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

RawDatabase::RawDatabase(FileService& files) : files_(files) {}

RawDatabase::~RawDatabase() {
    if (file_ >= 0) files_.FileClose(file_);
}

int32_t RawDatabase::Open(const char* path) {
    path_ = path;
    if (files_.FileExists(path) != 1) {
        error_ = "no such file";
        return -1;
    }
    file_ = files_.FileOpen(path, OpenRead | OpenDetailedErrors);
    if (file_ < 0) {
        error_ = file_ == kOpenErrorSharing ? "in use: another program has it open for writing"
                 : file_ == kOpenErrorAccess ? "access denied"
                                             : "cannot be opened";
        file_ = -1;
        return -1;
    }
    files_.FileSize64(path, &fileSize_);
    const int32_t got = files_.FileRead(file_, headerBlock_, kBlockSize);
    if (got < 0) {
        error_ = "cannot be read";
        return -1;
    }
    // What a device or a file that changed under us gives beyond its size is not trusted.
    const uint64_t known = fileSize_ < kBlockSize ? fileSize_ : kBlockSize;
    if (static_cast<uint64_t>(got) < known) {
        error_ = "cannot be read";
        return -1;
    }
    // A device may give more than its size says (reading /dev/zero never ends); what it gave
    // is shown, but no block beyond the size is read.
    headerBytes_ = static_cast<uint32_t>(got);
    std::memset(headerBlock_ + got, 0, kBlockSize - static_cast<uint32_t>(got));
    std::memcpy(&header_, headerBlock_, sizeof header_);
    if (fileSize_ > kBlockSize) {
        const uint64_t blocks = (fileSize_ - kBlockSize) / kBlockSize;
        // Block 0xFFFFFFFF is not addressable: a larger file holds no more blocks.
        blocksInFile_ = blocks > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(blocks);
        trailingBytes_ = static_cast<uint32_t>((fileSize_ - kBlockSize) % kBlockSize);
    }
    return 0;
}

bool RawDatabase::ReadBlock(uint32_t block, uint8_t* buffer) {
    if (block >= blocksInFile_ || file_ < 0) return false;
    if (block == cachedBlock_) {
        std::memcpy(buffer, cache_, kBlockSize);
        return true;
    }
    const uint64_t offset = (static_cast<uint64_t>(block) + 1) * kBlockSize;
    if (files_.FileSeek(file_, static_cast<uint32_t>(offset >> 32), static_cast<uint32_t>(offset)) != 0 ||
        files_.FileRead(file_, buffer, kBlockSize) != static_cast<int32_t>(kBlockSize)) {
        readFailed_ = true;
        cachedBlock_ = kReleasedBlockMark;
        return false;
    }
    std::memcpy(cache_, buffer, kBlockSize);
    cachedBlock_ = block;
    return true;
}

std::string NotADatabaseReason(const RawDatabase& raw) {
    const uint8_t* block = raw.headerBlock();
    uint8_t signature[kSignatureBytes] = {};
    std::memcpy(signature, kDatabaseSignature, sizeof kDatabaseSignature - 1);
    if (raw.headerBytes() == 0) return "it is empty";
    if (std::memcmp(block, signature, kSignatureBytes) != 0) {
        if (AllZero(block, kBlockSize))
            return "it holds no database signature (its first " + std::to_string(kBlockSize) + " bytes are all zero)";
        const std::string text(kDatabaseSignature, sizeof kDatabaseSignature - 3);  // without CR LF
        return "it holds no database signature (its first " + std::to_string(kSignatureBytes) + " bytes are not \"" +
               text + "\" and CR LF)";
    }
    const DatabaseHeader& h = raw.header();
    if (h.headerSize != kHeaderImageSize)
        return "its header size field is " + std::to_string(h.headerSize) + ", not 72";
    if (raw.blocksInFile() == 0)
        return "it is " + std::to_string(raw.fileSize()) + " bytes long, too short for its header and block 0 (512 bytes)";
    if (h.blockCount > raw.blocksInFile())
        return "its header counts " + std::to_string(h.blockCount) + " blocks, but the file holds only " +
               std::to_string(raw.blocksInFile()) + " (" + std::to_string(raw.fileSize()) + " bytes)";
    return "";
}

std::string LeftOpenNote(FileService& files, const RawDatabase& raw) {
    if (raw.header().openForWrite == 0) return "";
    const std::string mirror = raw.path() + kMirrorSuffix;
    std::string note = "left open by a writer (openForWrite is " + std::to_string(raw.header().openForWrite) +
                       "): the header's counters are stale";
    if (files.FileExists(mirror.c_str()) == 1)
        note += "; its mirror " + mirror + " lies beside it ('hdbtool recover' puts it back)";
    else
        note += "; no mirror lies beside it";
    return note;
}

}  // namespace tools

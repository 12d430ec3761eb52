// The in-memory side of one open database: the header image and the record that every handle
// operation works on.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "hdb/chain.h"
#include "support/spin_lock.h"

class BlockCache;
class FileService;
class NodeCache;
struct KeyNode;

static_assert(std::endian::native == std::endian::little, "database words are stored little-endian");

constexpr char kDatabaseSignature[] = "Vantrell Hierarchal Database\r\n";
constexpr uint32_t kHeaderImageSize = 72;
constexpr uint32_t kHeaderBlockSize = 256;
constexpr uint32_t kDatabasePathBuffer = 1140;

// Bytes 0..71 of the file; the rest of the 256-byte header block is zero and never used.
struct DatabaseHeader {
    char signature[36];
    uint32_t formatNumber;
    int32_t appValue;
    uint32_t headerSize;
    uint32_t reserved;
    uint32_t blockCount;
    uint32_t keyCount;
    uint32_t freeListBlock;
    uint32_t freeCount;
    uint32_t openForWrite;
};
static_assert(sizeof(DatabaseHeader) == kHeaderImageSize);

enum DatabaseMode : int32_t { ModeCreate = 0, ModeReadOnly = 1, ModeReadWrite = 2 };

// The sub-key list cached by HdbNextSubKey, so that each step of a walk costs no I/O. The two
// ids are wider than a key id: every u32 id, 0xFFFFFFFF too, stays apart from -1.
struct SubKeyCache {
    int64_t cachedKey;     // key whose list is copied; -1 for none
    int64_t lastReturned;  // sub-key id returned last; -1 for none
    int32_t entryCount;
    uint8_t* entries;      // entryCount * 8 bytes, or null when nothing is cached
    int32_t index;         // place of the last returned entry
};

struct DatabaseRecord {
    DatabaseHeader header;
    int32_t file;  // -1 once a failed mode change lost the file: nothing may touch it then
    char path[kDatabasePathBuffer];
    int32_t openCount;
    int32_t mode;
    SpinLockWord lockWord;
    int64_t filePosition;  // kUnknownFilePosition after a failed transfer
    KeyNode* nodeHead;
    KeyNode* nodeTail;
    ChainCursor freeListCursor;
    int32_t freeListBusy;
    // Entries taken from the front of the free-block list whose removal the list's stream does
    // not show yet: they lie before the freeCount entries still listed (see SettleFreeList).
    uint32_t freeListTaken;
    SubKeyCache subKeyCache;
    BlockCache* cache;  // null: every block transfer goes to the file
    NodeCache* nodeCache;  // what is remembered about keys between loads; null for nothing
    // 1 once a transfer of the file failed while the database was open for writing. From then
    // on nothing more changes it, and the final close leaves the file marked as open by a writer.
    int32_t transferFailed;
    // 1 while the current operation has lacked memory for work its answer depends on.
    int32_t memoryFailed;
    // 1 once a lookup on a database open for writing lacked such memory. Its answer (no such key,
    // no value) may be false, and callers create what they do not find, so from then on nothing
    // more changes the database; the file itself stays whole and closes as usual.
    int32_t lookupFailed;
};

// Memory for work that an operation's answer depends on; null when there is none, and the
// operation is then marked as having lacked it (memoryFailed).
void* AllocateForAnswer(DatabaseRecord& db, size_t size);

void LockDatabase(DatabaseRecord& db);
void UnlockDatabase(DatabaseRecord& db);

// The open database of a handle, or null when the handle names none.
DatabaseRecord* LookupDatabase(int32_t handle);

// The file service through which the engine does all its input and output.
FileService& DatabaseFileService();

// The application's report hook; the engine's only message is the count of key nodes left open
// at close. The default hook ignores both texts and returns 0.
using ReportMessageHook = int32_t (*)(const char* caption, const char* text);
void SetReportMessageHook(ReportMessageHook hook);
int32_t ReportMessage(const char* caption, const char* text);

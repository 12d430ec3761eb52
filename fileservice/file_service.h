// The file service: every file the system touches goes through it. Open files are addressed by
// an index into a process-wide table of 2048 entries; all FileService objects share the tables,
// so an index obtained through one object is valid through any other.
#pragma once

#include <cstdint>

// Open request: the low 16 bits are the mode, the high 16 bits flags.
constexpr uint32_t OpenCreate = 0;     // read/write; create, or truncate an existing file
constexpr uint32_t OpenRead = 1;       // read only; the file must exist
constexpr uint32_t OpenReadWrite = 2;  // read/write; open existing or create
constexpr uint32_t OpenAppend = 3;     // as OpenReadWrite, positioned at the end

constexpr uint32_t OpenDetailedErrors = 0x00020000;    // -16 for a sharing violation, -13 for access denied
constexpr uint32_t OpenPrivilegedAccess = 0x00040000;  // backup semantics on the NT family
constexpr uint32_t OpenPrivilegedAccess2 = 0x00080000;
constexpr uint32_t OpenQuiet = 0x00100000;  // no activity-hook notifications
// With OpenCreate or OpenReadWrite: the file must not exist yet; the open fails when it does, so
// a file that an earlier check took for missing is never emptied or taken over.
constexpr uint32_t OpenNewFileOnly = 0x00200000;

constexpr int32_t kOpenFileTableSize = 2048;
constexpr int32_t kSearchTableSize = 2048;
constexpr int32_t kOpenErrorSharing = -16;
constexpr int32_t kOpenErrorAccess = -13;
constexpr int32_t kWriteErrorNothingWritten = -10;
constexpr int32_t kSearchFailed = -2;

// Optional notifications of an embedding program; results are ignored.
struct FileActivityHooks {
    void (*OnOpen)(const char* name, uint32_t mode, int32_t index);
    void (*OnClose)(int32_t index);
    void (*OnRename)(const char* target, const char* source);
    void (*OnDelete)(const char* name);
    void (*OnBegin)(const char* operation, const char* name);
    void (*OnEnd)();
};

class FileService {
public:
    FileService();
    virtual ~FileService();
    FileService(const FileService&) = delete;
    FileService& operator=(const FileService&) = delete;

    int32_t FileOpen(const char* name, uint32_t request);
    int32_t FileRead(int32_t index, void* buffer, uint32_t count);
    int32_t FileWrite(int32_t index, const void* buffer, uint32_t count);
    // Low half of the position; *highOut (may be null) the high half. 0 and 0 on failure.
    uint32_t FileTell(int32_t index, uint32_t* highOut);
    // To the 64-bit offset high:low from the start. Note: high half first.
    int32_t FileSeek(int32_t index, uint32_t high, uint32_t low);
    int32_t FileFlush(int32_t index);
    int32_t FileClose(int32_t index);

    // 1 when a search for the name finds an entry, 0 when the system says there is none (file
    // or path not found), -1 when the search failed for any other reason: then nobody knows, and
    // a caller must not act as if the name were free.
    int32_t FileExists(const char* name);
    int32_t FileDelete(const char* name);
    // The new name first, the existing name second. 1 on success, 0 on failure.
    int32_t FileRename(const char* target, const char* source);

    int32_t SetFileActivityHooks(const FileActivityHooks* table);

    // Directory search. A slot stands on one entry at a time; "." and ".." are never shown.
    // Every slot SearchOpen returns must be given back with SearchClose, also after SearchNext
    // has reported the end; -1 from SearchOpen holds no slot. Slots are not validated.
    int32_t SearchOpen(const char* pattern);
    // 0 on the next entry, -1 at the end of the listing, kSearchFailed when the system could not
    // list further (LastError says why): a listing cut short is not a complete one.
    int32_t SearchNext(int32_t slot);
    void SearchClose(int32_t slot);
    // The texts live in the slot until its next SearchNext or SearchClose.
    const char* SearchName(int32_t slot);
    const char* SearchShortName(int32_t slot);
    int32_t SearchIsFolder(int32_t slot);
    uint32_t SearchAttributes(int32_t slot);
    // Copies the three system file times; returns the attribute bits.
    uint32_t SearchTimes(int32_t slot, uint64_t* creationOut, uint64_t* accessOut, uint64_t* writeOut);
    // Low half of the size; *highOut (may be null) the high half.
    uint32_t SearchSize(int32_t slot, uint32_t* highOut);
    // Packed local time of the last write.
    uint32_t SearchWriteTime(int32_t slot);

    // One-shot queries of the first entry matching `name`; 0 when nothing matches.
    uint32_t FileWriteTime(const char* name);
    uint32_t FileSize(const char* name, uint32_t* highOut);
    // Always 0; *sizeOut is the 64-bit size of the match, or 0.
    int32_t FileSize64(const char* name, uint64_t* sizeOut);

    int32_t isNT = 0;
};

// For tests and diagnostics: number of FileService objects alive, and of open-file entries in use.
int32_t FileServiceObjectCount();
int32_t OpenFileCount();
// Search slots in use.
int32_t SearchSlotCount();

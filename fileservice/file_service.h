// The file service: every file the system touches goes through it. Open files are addressed by
// an index into a process-wide table of 2048 entries; all FileService objects share the tables,
// so an index obtained through one object is valid through any other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fileservice {

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

namespace file_service_detail {
// The read buffer of one open file: bytes of the file from the entry's buffer start, `fill` of
// them, the entry standing at `cursor`. Visible here only so that a one-byte read of a buffered
// byte, which the summary reader makes for every byte it takes, costs no call.
struct ReadWindow {
    uint8_t* buffer;  // null until the entry is read in small pieces
    uint32_t fill;
    uint32_t cursor;  // at most fill
};
extern ReadWindow g_readWindows[kOpenFileTableSize];
}  // namespace file_service_detail

// Optional notifications of an embedding program; results are ignored.
struct FileActivityHooks {
    void (*OnOpen)(const char* name, uint32_t mode, int32_t index);
    void (*OnClose)(int32_t index);
    void (*OnRename)(const char* target, const char* source);
    void (*OnDelete)(const char* name);
    void (*OnBegin)(const char* operation, const char* name);
    void (*OnEnd)();
};

// One entry of a ListFolder list; the caller owns the list.
struct FolderEntry {
    char name[260];
    int32_t isFile;  // 0 for a folder, 1 for anything else
    FolderEntry* next;
};
void FreeFolderList(FolderEntry* list);

// One volume of a ListVolumes list; the caller owns the list.
struct VolumeInfo {
    char label[261];
    char drive;  // the drive letter, lower case
    uint32_t fileSystemFlags;
    uint32_t serialNumber;
    char fileSystemName[261];
    VolumeInfo* next;
};
void FreeVolumeList(VolumeInfo* list);

// The size TempFileName's buffer has unless its caller says otherwise.
constexpr size_t kTempNameSize = 260;

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
    // 0, or -1 when the system could not write the file's bytes through.
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

    // ---- Copy, attributes, times and space --------------------------------------------------
    // The existing file first. 0, -10 when the source is larger than the target volume's free
    // space (nothing copied), -1 when the copy failed. The copy is left with normal attributes.
    int32_t FileCopy(const char* source, const char* target);
    // 0 or -1; an existing target is replaced.
    int32_t FileMove(const char* source, const char* target);
    // -21 identical, -20 different (size or any byte), -14 read error, -2 out of memory, else
    // the failed open's code (-1, -13, -16).
    int32_t FileCompare(const char* nameA, const char* nameB);
    // The attribute bits, or -1 when the file cannot be found.
    int32_t FileGetAttributes(const char* name);
    // Always 0; only the settable bits (kSettableAttributes) are applied.
    int32_t FileSetAttributes(const char* name, uint32_t attributes);
    // Creation, last-access and last-write time all set to the packed local time, or to now
    // when packedTime is 0. 0 or -1.
    int32_t FileSetWriteTime(const char* name, uint32_t packedTime);
    // The three times from system file times; a null pointer leaves that time unchanged.
    int32_t FileSetTimes(const char* name, const uint64_t* creation, const uint64_t* access, const uint64_t* write);
    // Free and total bytes of the volume holding `path`; 0 when the system cannot tell.
    void FileDiskFree(const char* path, uint64_t* spaceOut);
    void FileDiskSize(const char* path, uint64_t* sizeOut);
    // As FileRename, but an existing target is replaced in the same step, so that no moment
    // passes in which neither name holds a file. 1 on success, 0 on failure (nothing changed).
    int32_t FileReplace(const char* target, const char* source);

    // ---- Change journal ----------------------------------------------------------------------
    // Names the journal file and makes its folder when missing; an empty path turns journaling
    // off. 0, or -1 when the path does not fit the journal's path buffer (journaling is then off).
    int32_t SetJournalFile(const char* path);

    // ---- Folder trees, temporary names, volumes ---------------------------------------------
    // Creates every missing folder of `path`, the last included. 0 or -1.
    int32_t CreateFolderPath(const char* path);
    // With recursive 1 deletes everything inside first; otherwise only an empty folder goes.
    int32_t DeleteFolder(const char* path, int32_t recursive);
    int32_t FolderExists(const char* path);
    // Removes `path` when empty, then each empty parent upward, stopping below `stopAt` (which
    // goes only when it is `path` itself). 0.
    int32_t PruneEmptyFolders(const char* stopAt, const char* path);
    // The entries of `path` in listing order; *listOut null for an empty folder. 0, or -1 when
    // out of memory (no list handed out). The caller frees the list with FreeFolderList.
    int32_t ListFolder(const char* path, FolderEntry** listOut);
    // Sum of the file sizes in `path` (and below it with recursive 1).
    uint64_t FolderSize(const char* path, int32_t recursive);
    // Renames folders along `path` that differ from it only in letter case to its spelling. 0.
    int32_t MatchFolderCase(const char* path);
    // A full path for a new temporary file: the "data" folder beside the executable, "qrm" and
    // 8 hex digits of a process-wide counter, ".tmp". The file is not created. 0, or -1 (and
    // `nameOut` empty) when the name does not fit `size` bytes.
    int32_t TempFileName(char* nameOut, size_t size = kTempNameSize);
    // Fixed drives, and remote or removable ones when asked; null when none qualifies. The
    // caller frees the list with FreeVolumeList.
    VolumeInfo* ListVolumes(int32_t includeRemote, int32_t includeRemovable);
    int32_t IsNetworkDrive(const char* path);
    // The network form of a path on a mapped drive, into `nameOut` (`size` bytes). 0 or -1.
    int32_t UniversalPath(const char* path, char* nameOut, size_t size);

    int32_t isNT = 0;

private:
    // Every read but that of one buffered byte.
    int32_t FileReadFromEntry(int32_t index, void* buffer, uint32_t count);
};

inline int32_t FileService::FileRead(int32_t index, void* buffer, uint32_t count) {
    file_service_detail::ReadWindow& window = file_service_detail::g_readWindows[index];
    if (count == 1 && window.cursor < window.fill) {
        *static_cast<uint8_t*>(buffer) = window.buffer[window.cursor++];
        return 1;
    }
    return FileReadFromEntry(index, buffer, count);
}

// The attribute bits FileSetAttributes applies: read-only, hidden, system, archive, normal,
// temporary, offline and not-content-indexed.
constexpr uint32_t kSettableAttributes = 0x31A7;

constexpr int32_t kNotEnoughSpace = -10;
constexpr int32_t kCompareOutOfMemory = -2;
constexpr int32_t kCompareReadError = -14;
constexpr int32_t kFilesDiffer = -20;
constexpr int32_t kFilesIdentical = -21;

// Working copies of paths in the folder and volume operations are held in buffers of this
// size; a path that does not fit is refused.
constexpr size_t kPathBufferSize = 570;

// The root whose volume answers the space questions for `path`, into `root` (`size` bytes):
// "\\server\share\" for a network path ("\\server" alone stays as it is), "c:\" for a
// path on a drive, and "" (the current folder's volume) for a relative path. Where paths have
// no drive letters the path itself is the answer. False when it does not fit.
bool SpaceQueryRoot(const char* path, char* root, size_t size);

// 1 when the volume holding `path` has the file system "ntfs" (in any case), else 0.
int32_t IsNtfsVolume(const char* path);
// The mount-point calls: their result (non-zero on success), or 0 where the system lacks them.
int32_t VolumeNameForMountPoint(const char* mountPoint, char* nameOut, uint32_t size);
int32_t DeleteMountPoint(const char* mountPoint);
int32_t SetMountPoint(const char* mountPoint, const char* volumeName);

// For tests and diagnostics: number of FileService objects alive, and of open-file entries in use.
int32_t FileServiceObjectCount();
int32_t OpenFileCount();
// Search slots in use.
int32_t SearchSlotCount();

}  // namespace fileservice

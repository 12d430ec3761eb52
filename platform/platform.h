// The only door to the operating system. Everything above this layer reaches files, folders,
// atomics, sleeping, threads and the system version through these functions; posix/ and win32/
// each implement them with the same results (Win32 error numbers, Win32 sharing rules).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Win32 error numbers; the POSIX layer maps errno onto them.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorNotSameDevice = 17;  // a rename whose target lies on another volume
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorInvalidName = 123;

// The error in words, the same on every system (never null): "access denied", ... Unknown
// numbers get a general text; callers show the number beside it.
const char* ErrorText(uint32_t error);

// The error of the calling thread's last failed platform call (GetLastError on Windows).
uint32_t LastError();
void SetLastError(uint32_t error);

// The separator this system writes between path elements.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// ---- Files ---------------------------------------------------------------------------------

// An open file; 0 is never a valid handle.
using FileHandle = intptr_t;

enum class FileAccess { Read, ReadWrite };
enum class FileCreation {
    CreateAlways,  // create, or truncate an existing file
    OpenAlways,    // open an existing file, or create it
    OpenExisting,  // the file must exist
    CreateNew,     // create; fails (error 80) when the name exists
};

// Opens with share-read only: others may read the file but not write or delete it, and a file
// that someone holds open for writing cannot be opened again (sharing violation, error 32).
// `privileged` asks for backup semantics (Windows 0x02000000; it lets a folder be opened).
// Returns 0 on failure with LastError() set.
FileHandle OpenFile(const char* name, FileAccess access, FileCreation creation, bool privileged);

// The old compatibility open for reading (_lopen); it does not deny others any access, so it
// succeeds on a file that another opener holds for writing. Returns 0 on failure.
FileHandle OpenFileCompat(const char* name);

// One read / write of up to `count` bytes; *done receives the bytes moved. False on failure.
bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done);
bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done);

enum class SeekOrigin { Begin, Current, End };
// Moves the position; *newPosition (may be null) receives it. False on failure.
bool SeekFile(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t* newPosition);

// Writes the file's buffers through to the disk.
bool FlushFile(FileHandle file);
bool CloseFile(FileHandle file);

// ---- Folders and names ----------------------------------------------------------------------

// Every operation that takes a name finds it as Windows does on a case-free volume: the name
// as written when it exists, else (on POSIX) the first entry in listing order that matches it
// case-free, element by element; a new file keeps the case given.

// Win32 attribute bits.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;

// One entry of a directory search, as FindFirstFileA fills it. Times are file times: 100-ns
// units since 1601-01-01 UTC.
struct FindData {
    uint32_t attributes;
    uint64_t creationTime;
    uint64_t lastAccessTime;
    uint64_t lastWriteTime;
    uint64_t size;
    char name[260];
    char shortName[14];
};

using FindHandle = intptr_t;  // 0 is never valid

// The code page of narrow names: the ANSI code page on Windows (GetACP, 1252 for Western
// Europe); 65001 (UTF-8) on POSIX, whose file names are UTF-8. Names are compared case-free
// in it (platform/name_order.h on POSIX).
constexpr uint32_t kCodePageUtf8 = 65001;
uint32_t NameCodePage();

// Starts a search for `pattern` (a path whose last element may hold the wildcards * and ?,
// matched as Windows matches them: case-free, "*.*" matches every name). Entries come in the
// order Windows on NTFS lists a folder: "." and "..", then sorted by name, case-free. Returns 0
// when nothing matches or the folder does not exist (errors 2 and 3), and with error 123 when
// the folder named is a file or holds wildcards.
//
// With FindFill::NameFirst a search that matches wildcards may hand out an entry with only its
// name and its folder bit filled, as the folder's listing gives them, and fill the rest
// (attributes, times, size) when FindDescribe asks: a walk that needs only names then costs no
// call per entry where the system lists names alone (POSIX). An entry that vanishes between the
// listing and FindDescribe keeps what the listing said of it, as a Windows search hands out what
// its listing read. Where the listing gives everything (Windows), every entry comes whole.
enum class FindFill { Everything, NameFirst };
FindHandle FindFirst(const char* pattern, FindData* data, FindFill fill = FindFill::Everything);
bool FindNext(FindHandle search, FindData* data);
// Completes `data`, the entry the search handed out last, where it came with its name first;
// otherwise leaves it as it is.
void FindDescribe(FindHandle search, FindData* data);
void FindClose(FindHandle search);

// Fails on a read-only file and on a file someone holds open (sharing violation).
bool DeleteFile(const char* name);
// Renames or moves `source` to `target`; fails when `target` exists (never replaces it) and
// when `source` is held open by someone.
bool MoveFile(const char* source, const char* target);
// Clears read-only, hidden and system.
bool SetFileAttributesNormal(const char* name);

// An exclusive claim on the lock file `name` (created when missing) for as long as the handle
// lives: a second claim, from this process or another, fails with the sharing violation (32)
// until ReleaseLockFile, which also removes the file. Counted as an open for fault injection.
// 0 on failure with LastError() set.
FileHandle AcquireLockFile(const char* name);
void ReleaseLockFile(FileHandle lock, const char* name);

// The attribute bits of a file or folder, or kInvalidAttributes when it cannot be found. POSIX
// reports read-only (no write permission), folder, hidden (a name beginning with a dot) and
// archive for every other entry, as its directory search does.
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kAttributeReparsePoint = 0x400;  // a folder link (POSIX: a symbolic link)
uint32_t GetFileAttributes(const char* name);
// Sets the attribute bits as given (the caller removes the ones that cannot be set). POSIX keeps
// only read-only, the one bit its files carry.
bool SetFileAttributes(const char* name, uint32_t attributes);

// Copies `source` over `target` (CopyFileA with overwriting allowed): the target takes the
// source's bytes, last-write time and attributes. The source is read sharing reading and
// writing, so a file that a writer holds is copied as it stands. Fails with nothing changed
// when the source cannot be read or the target is read-only (error 5) or held open (error 32);
// a copy that fails part-way removes the target, so no partial copy passes for a whole one.
bool CopyFile(const char* source, const char* target);
// Puts `source` in the place of `target` in one step (a rename that replaces, also a read-only
// target), so that there is no moment in which neither exists. Fails with nothing changed when
// the source is held open (error 32) or the target is held open or a folder (error 5).
bool ReplaceFile(const char* source, const char* target);

// Writes the data of the file `name` through to the disk, opening it for the moment. Counted
// as a flush.
bool FlushNamedFile(const char* name);
// Whether another opener holds `name` with write access (then an open for reading that shares
// only reading is refused), and whether anyone holds it at all (Windows cannot see a reader of
// a read-only file). Neither leaves anything open, and neither counts as an open.
bool HeldForWriting(const char* name);
bool HeldByAnyone(const char* name);

// Sets the file times of an open file (file times as in FindData); a null time stays as it is.
// POSIX has no settable creation time and ignores it.
bool SetFileTimes(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write);

// Creates one folder; fails when the name exists or its parent is missing.
bool CreateFolder(const char* name);
// Removes one empty folder; a folder link is removed itself, never what it points to.
bool RemoveFolder(const char* name);
// Makes the entries of `folder` (names created, renamed or removed in it) durable. Windows
// records them with the file, so there is nothing to do there.
bool FlushFolder(const char* folder);

// `name` made absolute from the process's current folder (GetFullPathNameA on Windows, which also
// takes out "." and ".."; on POSIX the current folder and the name joined), into `out`. False
// when it cannot be made or does not fit `size` bytes with its terminating zero.
bool FullPathName(const char* name, char* out, size_t size);
// The folder for temporary files, without a separator at its end: GetTempPathA on Windows; on
// POSIX the first of TMPDIR, TMP, TEMP and TEMPDIR that is set, else /tmp. False when it does
// not fit `size` bytes.
bool TempFolder(char* out, size_t size);

// ---- Atomics, time, threads, system ----------------------------------------------------------

// All with full ordering; results are the old value (exchange) or the new value (inc/dec).
int32_t AtomicExchange(volatile int32_t* target, int32_t value);
int32_t AtomicIncrement(volatile int32_t* target);
int32_t AtomicDecrement(volatile int32_t* target);
int32_t AtomicLoad(const volatile int32_t* target);
void AtomicStore(volatile int32_t* target, int32_t value);
// Stores `value` only when the word holds `expected`; returns the value it held before.
int32_t AtomicCompareExchange(volatile int32_t* target, int32_t value, int32_t expected);

void Sleep(uint32_t milliseconds);

// Milliseconds since the system started (GetTickCount); wraps after 49.7 days.
uint32_t TickCount();

// Fills `buffer` from the system's generator for keys (RtlGenRandom on Windows, getrandom on
// Linux). False when the system cannot give the bytes.
bool RandomBytes(void* buffer, size_t size);

using ThreadEntry = void (*)(void* argument);
// Starts a thread with the default stack size; false when it cannot be started.
bool StartThread(ThreadEntry entry, void* argument);
// Ends the calling thread (the runtime's thread-end call).
[[noreturn]] void EndThread();

// The system version value: on Windows GetVersion(); the high bit set means the old, non-NT
// family. The POSIX layer answers as an NT system would.
uint32_t GetVersion();

// ---- Memory ----------------------------------------------------------------------------------

// Heap blocks at the places where running out of memory is a handled case (tests can make
// these fail). Free(nullptr) does nothing.
void* Allocate(size_t size);
void Free(void* block);

}  // namespace platform

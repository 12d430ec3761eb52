// Files on Win32: the narrow calls themselves. Every open asks for share-read only, so a file
// open for writing cannot be opened again and a file open for reading cannot be opened for
// writing (sharing violation, error 32).
#include "platform/win32/win32.h"
#include "platform/os.h"

namespace platform {
namespace {

DWORD DispositionOf(FileCreation creation) {
    switch (creation) {
        case FileCreation::CreateAlways: return CREATE_ALWAYS;
        case FileCreation::OpenAlways: return OPEN_ALWAYS;
        case FileCreation::CreateNew: return CREATE_NEW;
        case FileCreation::OpenExisting: break;
    }
    return OPEN_EXISTING;
}

// Keeps the attributes a caller may set and drops the ones that only describe the entry.
constexpr DWORD kSettableAttributes = 0x31A7;

}  // namespace

uint32_t LastError() { return ::GetLastError(); }
void SetLastError(uint32_t error) { ::SetLastError(error); }
uint32_t NameCodePage() { return ::GetACP(); }

void ReleaseLockFile(FileHandle lock, const char*) {
    if (lock != 0) ::CloseHandle(win32::HandleOf(lock));
}

namespace os {

FileHandle OpenFile(const char* name, FileAccess access, FileCreation creation, bool privileged) {
    const DWORD desired = access == FileAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (privileged ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    HANDLE h = ::CreateFileA(name, desired, FILE_SHARE_READ, nullptr, DispositionOf(creation), flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    return win32::FileHandleOf(h);
}

FileHandle OpenFileCompat(const char* name) {
    HFILE h = ::_lopen(name, OF_READ);
    if (h == HFILE_ERROR) return 0;
    // An HFILE is the handle's value narrowed to 32 bits; handle values always fit.
    return static_cast<FileHandle>(static_cast<LONG_PTR>(h));
}

bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = ::ReadFile(win32::HandleOf(file), buffer, count, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = ::WriteFile(win32::HandleOf(file), buffer, count, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

bool SeekFile(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t* newPosition) {
    const DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
    LONG high = static_cast<LONG>(static_cast<uint64_t>(offset) >> 32);
    // A low half of all ones is also a valid position: with the high half passed, only the
    // thread's error tells a failed move from one that landed there.
    ::SetLastError(NO_ERROR);
    const DWORD low = ::SetFilePointer(win32::HandleOf(file), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, method);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
    if (newPosition) *newPosition = static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low;
    return true;
}

bool FlushFile(FileHandle file) {
    return ::FlushFileBuffers(win32::HandleOf(file)) != FALSE;
}

bool CloseFile(FileHandle file) {
    return ::CloseHandle(win32::HandleOf(file)) != FALSE;
}

bool DeleteFile(const char* name) {
    return ::DeleteFileA(name) != FALSE;
}

// MoveFileA's move (between volumes too), returning only once the new name is on the disk.
bool MoveFile(const char* source, const char* target) {
    return ::MoveFileExA(source, target, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool SetFileAttributesNormal(const char* name) {
    return ::SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL) != FALSE;
}

FileHandle AcquireLockFile(const char* name) {
    // Shared with nobody; the system removes the file when the last handle goes, also when the
    // process ends without releasing it.
    HANDLE h = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    return win32::FileHandleOf(h);
}

bool SetFileReadOnly(const char* name) {
    const DWORD attributes = ::GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    DWORD wanted = (attributes & kSettableAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
    return ::SetFileAttributesA(name, wanted) != FALSE;
}

}  // namespace os
}  // namespace platform

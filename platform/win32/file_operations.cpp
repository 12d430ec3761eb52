// Whole-file operations on Win32: the narrow calls themselves.
#include "platform/win32/win32.h"
#include "platform/os.h"

namespace platform {
namespace {

FILETIME ToFileTime(uint64_t t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

}  // namespace

namespace os {

// CopyFileA cannot stop part-way; a copy that breaks off is the whole copy removed, as CopyFileA
// removes what it wrote when it fails.
bool CopyFile(const char* source, const char* target, const CopyBreak* breakOff) {
    if (!::CopyFileA(source, target, FALSE)) return false;
    if (breakOff) {
        ::DeleteFileA(target);
        return win32::Fail(breakOff->error);
    }
    return true;
}

bool ReplaceFile(const char* source, const char* target) {
    return ::MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool FlushNamedFile(const char* name) {
    // Flushing needs write access.
    HANDLE h = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool flushed = ::FlushFileBuffers(h) != FALSE;
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (!flushed) ::SetLastError(error);
    return flushed;
}

}  // namespace os

namespace {

// Whether an open that shares only reading meets a sharing violation.
bool ProbeRefused(const char* name, DWORD access, DWORD* error) {
    HANDLE h = ::CreateFileA(name, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        *error = NO_ERROR;
        return false;
    }
    *error = ::GetLastError();
    return *error == ERROR_SHARING_VIOLATION;
}

}  // namespace

bool HeldForWriting(const char* name) {
    DWORD error = 0;
    return ProbeRefused(name, GENERIC_READ, &error);
}

bool HeldByAnyone(const char* name) {
    DWORD error = 0;
    if (ProbeRefused(name, GENERIC_READ | GENERIC_WRITE, &error)) return true;
    // A read-only file refuses writing to everyone; a writer still shows by refusing a reader.
    return error == ERROR_ACCESS_DENIED && HeldForWriting(name);
}

namespace os {

uint32_t GetFileAttributes(const char* name) {
    return ::GetFileAttributesA(name);
}

bool SetFileAttributes(const char* name, uint32_t attributes) {
    return ::SetFileAttributesA(name, attributes) != FALSE;
}

bool SetFileTimes(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
    FILETIME c, a, w;
    if (creation) c = ToFileTime(*creation);
    if (access) a = ToFileTime(*access);
    if (write) w = ToFileTime(*write);
    return ::SetFileTime(win32::HandleOf(file), creation ? &c : nullptr, access ? &a : nullptr,
                         write ? &w : nullptr) != FALSE;
}

bool CreateFolder(const char* name) {
    return ::CreateDirectoryA(name, nullptr) != FALSE;
}

bool RemoveFolder(const char* name) {
    return ::RemoveDirectoryA(name) != FALSE;
}

// NTFS writes a folder's entries with the files' own metadata; FlushFileBuffers on the file
// makes both durable.
bool FlushFolder(const char*) {
    return true;
}

}  // namespace os
bool FullPathName(const char* name, char* out, size_t size) {
    if (!name || !*name || size == 0 || size > 0xFFFFFFFFu) return false;
    const DWORD length = ::GetFullPathNameA(name, static_cast<DWORD>(size), out, nullptr);
    return length > 0 && length < size;
}

bool TempFolder(char* out, size_t size) {
    if (size == 0 || size > 0xFFFFFFFFu) return false;
    DWORD length = ::GetTempPathA(static_cast<DWORD>(size), out);
    if (length == 0 || length >= size) return false;
    // "C:\" keeps its separator; any other folder loses it.
    while (length > 3 && (out[length - 1] == '\\' || out[length - 1] == '/')) out[--length] = '\0';
    return true;
}

}  // namespace platform

// The back ends behind the platform layer's front functions. Every call that tests can make fail
// is a front function in platform/ (files.cpp, file_operations.cpp, find.cpp, settings.cpp,
// volumes.cpp, system.cpp): it counts the call, asks the fault seam, cuts a transfer short, and
// only then calls the function of the same name here, which posix/ and win32/ each implement
// with the system's calls alone. The test-facing entry points of platform/testing/ reach the
// system the same way. Not for use outside platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/settings.h"

namespace platform::os {

// ---- Files (platform/files.cpp) --------------------------------------------------------------

FileHandle OpenFile(const char* name, FileAccess access, FileCreation creation, bool privileged);
FileHandle OpenFileCompat(const char* name);
// `count` is already cut to what an armed short transfer allows; *done starts at 0.
bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done);
bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done);
bool SeekFile(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t* newPosition);
bool FlushFile(FileHandle file);
bool CloseFile(FileHandle file);
bool DeleteFile(const char* name);
bool MoveFile(const char* source, const char* target);
bool SetFileAttributesNormal(const char* name);
FileHandle AcquireLockFile(const char* name);
bool SetFileReadOnly(const char* name);

// ---- Whole-file operations (platform/file_operations.cpp) ------------------------------------

// A copy that breaks off part-way: `bytes` of the source are copied (where the system can stop
// there), then the copy fails with `error` and its target is removed.
struct CopyBreak {
    uint64_t bytes;
    uint32_t error;
};
// `breakOff` null: the whole copy.
bool CopyFile(const char* source, const char* target, const CopyBreak* breakOff);
bool ReplaceFile(const char* source, const char* target);
bool FlushNamedFile(const char* name);
uint32_t GetFileAttributes(const char* name);
bool SetFileAttributes(const char* name, uint32_t attributes);
bool SetFileTimes(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write);
bool CreateFolder(const char* name);
bool RemoveFolder(const char* name);
bool FlushFolder(const char* folder);

// ---- Searches (platform/find.cpp) ------------------------------------------------------------

FindHandle FindFirst(const char* pattern, FindData* data, FindFill fill);
bool FindNext(FindHandle search, FindData* data);

#ifndef _WIN32
// One folder read to find the entry of `folder` ("" for the current folder) that matches
// `element` case-free and lists first; `match` empty when none does. False (LastError set) when
// the folder exists but cannot be read. POSIX only: Windows volumes find names case-free by
// themselves.
bool FindCaseFree(const std::string& folder, const char* element, std::string& match);
#endif

// ---- Settings (platform/settings.cpp) --------------------------------------------------------

RegistryKey OpenMachineKey(const char* subKey);
bool QueryKeyText(RegistryKey key, const char* name, char* buffer, uint32_t size);
uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText, char* out, uint32_t size,
                           const char* fileName);
// The default text as ReadProfileString gives it for a missing file, in `out`; its length.
uint32_t ProfileDefault(const char* defaultText, char* out, uint32_t size);

// ---- Volumes (platform/volumes.cpp) ----------------------------------------------------------

// The outputs are 0 when this is called.
bool DiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut);

// ---- System (platform/system.cpp) ------------------------------------------------------------

bool RandomBytes(void* buffer, size_t size);
bool StartThread(ThreadEntry entry, void* argument);
void* Allocate(size_t size);

// ---- Set-up for tests (platform/testing/) ---------------------------------------------------

bool WriteMachineKeyText(const char* subKey, const char* name, const char* text);
bool DeleteMachineKey(const char* subKey);
bool SelectWinePrefix(const char* path);
bool SetProcessTimeZone(const char* zone);
bool SetProcessTimeLocale(const char* locale);
bool SelectCodePage(uint32_t codePage);

}  // namespace platform::os

namespace platform::seam {

#ifndef _WIN32
// os::FindCaseFree as a counted call (CallKind::FolderRead): the POSIX back end reads folders
// through here while it resolves a name, so that each read counts and can fail like any other.
bool FindCaseFree(const std::string& folder, const char* element, std::string& match);
#endif

}  // namespace platform::seam

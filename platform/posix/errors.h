// errno to Win32 error numbers, shared by the POSIX files.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform::posix {

uint32_t ErrorFromErrno(int error, bool mustExist);
// Sets LastError from errno and returns false, for one-line failure returns.
bool FailWithErrno(bool mustExist = true);
// The same for a call on `name`: a missing name is error 2 when its folder exists and error 3
// when the folder is missing too, as Windows tells them apart.
bool FailWithErrnoFor(const char* name);
// Sets LastError and returns false.
bool Fail(uint32_t error);

// Whether another opener holds the file open through OpenFile or OpenFileCompat.
bool IsHeldOpen(const char* name);
// Whether another opener holds the file with write access.
bool IsHeldForWriting(const char* name);

// The share locks cover [0, kPresenceByte); the compatibility open locks kPresenceByte alone.
constexpr int64_t kPresenceByte = int64_t{1} << 62;

// Takes the share lock of an open: shared for reading, exclusive for writing. False when another
// open holds a conflicting one (the sharing violation).
bool TakeShareLock(int fd, bool write);
// Marks a file as open without denying anyone reading or writing (the compatibility open, the
// source of a copy): deleting or renaming it is refused while the mark is held.
bool TakePresenceLock(int fd);
// Denies every other opener, the compatibility open and a copy's source included (the target of
// a copy, which the system opens sharing nothing).
bool TakeSoleLock(int fd);

// The attribute bits FindFirstFileA would report for an entry of this type and permission: a
// folder, read-only without write permission, hidden for a name beginning with a dot ("." and
// ".." excepted), archive for everything else; a symbolic link is also a reparse point.
uint32_t AttributesOf(bool folder, bool writable, bool link, const char* leafName);

// Handles are descriptors shifted by one, so that 0 is never a valid handle.
inline int FdOf(FileHandle file) { return static_cast<int>(file - 1); }
inline FileHandle HandleOf(int fd) { return static_cast<FileHandle>(fd) + 1; }

}  // namespace platform::posix

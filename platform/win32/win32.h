// <windows.h> for the Win32 files, without the macros that would rename the platform layer's
// own functions (DeleteFile -> DeleteFileA and so on).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef DeleteFile
#undef MoveFile
#undef CopyFile
#undef ReplaceFile
#undef GetFileAttributes
#undef SetFileAttributes

#include "platform/platform.h"

namespace platform::win32 {

inline HANDLE HandleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
inline FileHandle FileHandleOf(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

// Sets the thread's error and returns false, for one-line failure returns.
inline bool Fail(uint32_t error) {
    ::SetLastError(error);
    return false;
}

}  // namespace platform::win32

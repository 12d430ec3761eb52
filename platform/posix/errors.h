// errno to Win32 error numbers, shared by the POSIX files.
#pragma once

#include <cstdint>

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

}  // namespace platform::posix

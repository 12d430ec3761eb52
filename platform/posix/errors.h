// errno to Win32 error numbers, shared by the POSIX files.
#pragma once

#include <cstdint>

namespace platform::posix {

uint32_t ErrorFromErrno(int error, bool mustExist);
// Sets LastError from errno and returns false, for one-line failure returns.
bool FailWithErrno(bool mustExist = true);
// Sets LastError and returns false.
bool Fail(uint32_t error);

// Whether another opener holds a lock on the file (it is open through OpenFile).
bool IsHeldOpen(const char* name);

}  // namespace platform::posix

// errno to Win32 error numbers and Windows name rules, shared by the POSIX files.
#pragma once

#include <cstdint>
#include <string>

namespace platform::posix {

uint32_t ErrorFromErrno(int error, bool mustExist);
// Sets LastError from errno and returns false, for one-line failure returns.
bool FailWithErrno(bool mustExist = true);
// The same for a call on `name`: a missing name is error 2 when its folder exists and error 3
// when the folder is missing too, as Windows tells them apart.
bool FailWithErrnoFor(const char* name);
// Sets LastError and returns false.
bool Fail(uint32_t error);

// `name` as Windows reads it: trailing dots and blanks of the last element are dropped
// ("readme." is "readme"). Returns `name` itself when nothing is dropped, else storage's text.
const char* WindowsName(const char* name, std::string& storage);

// Whether another opener holds the file open through OpenFile or OpenFileCompat.
bool IsHeldOpen(const char* name);

}  // namespace platform::posix

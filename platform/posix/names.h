// Names on POSIX as Windows reads them: trailing dots dropped, letter case free. Every POSIX
// operation that takes a name passes it through ResolveName before it asks the system.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

// `name` as Windows reads it: trailing dots and blanks of the last element are dropped
// ("readme." is "readme"). Returns `name` itself when nothing is dropped, else storage's text.
const char* WindowsName(const char* name, std::string& storage);

// The path to hand to the system for `name`, found as Windows finds names on a case-free
// volume, element by element: an element that exists as written is taken; otherwise the first
// entry of its folder, in listing order, that matches it case-free. An element that matches
// nothing is kept as written, and so is the rest of the path after it, so a new file is created
// with the case given. Trailing dots are dropped first (WindowsName).
// Returns `name` itself or storage's text. Null, with LastError set, when a folder on the way
// cannot be read: nobody can tell then whether the name exists, and a failure must never read
// as "not found". Each folder read counts as a FolderRead call for fault injection.
const char* ResolveName(const char* name, std::string& storage);

// The names in `folder` ("" for the current folder) in the order a Windows listing gives them:
// "." and ".." first, then sorted as platform/name_order.h sorts. False, with LastError set, when
// the folder cannot be read, with the error FindFirstFileA gives for a listing of it (3 when it
// does not exist, 123 when it is a file, 5 when access is denied).
// With `types`, each name's type as the listing gives it (a dirent d_type: DT_DIR, DT_REG, DT_LNK,
// or DT_UNKNOWN where the file system does not say), in the same order.
bool ReadFolder(const std::string& folder, std::vector<std::string>& names,
                std::vector<unsigned char>* types = nullptr);

}  // namespace platform::posix

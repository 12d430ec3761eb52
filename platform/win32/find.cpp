// Directory searches on Win32: FindFirstFileA / FindNextFileA, the entry copied field by field.
#include "platform/win32/win32.h"
#include "platform/os.h"

#include <cstring>

namespace platform {
namespace {

uint64_t FileTimeOf(const FILETIME& t) {
    return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

void Fill(const WIN32_FIND_DATAA& entry, FindData* data) {
    static_assert(sizeof data->name == sizeof entry.cFileName);
    static_assert(sizeof data->shortName == sizeof entry.cAlternateFileName);
    data->attributes = entry.dwFileAttributes;
    data->creationTime = FileTimeOf(entry.ftCreationTime);
    data->lastAccessTime = FileTimeOf(entry.ftLastAccessTime);
    data->lastWriteTime = FileTimeOf(entry.ftLastWriteTime);
    data->size = static_cast<uint64_t>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
    std::memcpy(data->name, entry.cFileName, sizeof data->name);
    data->name[sizeof data->name - 1] = '\0';
    std::memcpy(data->shortName, entry.cAlternateFileName, sizeof data->shortName);
    data->shortName[sizeof data->shortName - 1] = '\0';
}

}  // namespace

// FindFirstFileA fills every entry whole, so FindFill::NameFirst changes nothing here.
FindHandle os::FindFirst(const char* pattern, FindData* data, FindFill) {
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    Fill(entry, data);
    return reinterpret_cast<FindHandle>(search);
}

void FindDescribe(FindHandle, FindData*) {}

bool os::FindNext(FindHandle search, FindData* data) {
    WIN32_FIND_DATAA entry;
    if (!::FindNextFileA(reinterpret_cast<HANDLE>(search), &entry)) return false;
    Fill(entry, data);
    return true;
}

void FindClose(FindHandle search) {
    if (search == 0) return;
    ::FindClose(reinterpret_cast<HANDLE>(search));
}

}  // namespace platform

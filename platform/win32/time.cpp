// Clocks, zones and time formatting on Windows: the system's own calls and the system's zone
// and user locale.
#include "platform/os.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <ctime>

#include "platform/time.h"

namespace platform {
namespace {

SYSTEMTIME ToWin32(const SystemTime& t) {
    SYSTEMTIME st;
    st.wYear = t.year;
    st.wMonth = t.month;
    st.wDayOfWeek = t.dayOfWeek;
    st.wDay = t.day;
    st.wHour = t.hour;
    st.wMinute = t.minute;
    st.wSecond = t.second;
    st.wMilliseconds = t.milliseconds;
    return st;
}

SystemTime FromWin32(const SYSTEMTIME& st) {
    SystemTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.dayOfWeek = st.wDayOfWeek;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.milliseconds = st.wMilliseconds;
    return t;
}

FILETIME ToFileTime(uint64_t value) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(value);
    ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return ft;
}

uint64_t FromFileTime(const FILETIME& ft) {
    return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

}  // namespace

void CurrentLocalTime(SystemTime* out) {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    *out = FromWin32(st);
}

uint64_t CurrentFileTime() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    FILETIME stamp;
    if (!::SystemTimeToFileTime(&now, &stamp)) return 0;
    return FromFileTime(stamp);
}

bool FileTimeToLocal(uint64_t fileTime, uint64_t* localOut) {
    const FILETIME utc = ToFileTime(fileTime);
    FILETIME local;
    if (!::FileTimeToLocalFileTime(&utc, &local)) return false;
    *localOut = FromFileTime(local);
    return true;
}

bool LocalToFileTime(uint64_t localFileTime, uint64_t* fileTimeOut) {
    const FILETIME local = ToFileTime(localFileTime);
    FILETIME utc;
    if (!::LocalFileTimeToFileTime(&local, &utc)) return false;
    *fileTimeOut = FromFileTime(utc);
    return true;
}

bool FileTimeToCalendar(uint64_t fileTime, SystemTime* out) {
    const FILETIME ft = ToFileTime(fileTime);
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&ft, &st)) return false;
    *out = FromWin32(st);
    return true;
}

bool CalendarToFileTime(const SystemTime& time, uint64_t* fileTimeOut) {
    const SYSTEMTIME st = ToWin32(time);
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) return false;
    *fileTimeOut = FromFileTime(ft);
    return true;
}

int32_t StandardTimeZoneBias() {
    TIME_ZONE_INFORMATION zone;
    if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
    return static_cast<int32_t>(zone.Bias);
}

bool RuntimeLocalTime(int64_t secondsSince1970, SystemTime* out) {
    const __time64_t seconds = static_cast<__time64_t>(secondsSince1970);
    // The runtime's buffer is per thread.
    const struct tm* tm = _localtime64(&seconds);
    if (!tm || tm->tm_year + 1900 < 0 || tm->tm_year + 1900 > 0xFFFF) return false;
    out->year = static_cast<uint16_t>(tm->tm_year + 1900);
    out->month = static_cast<uint16_t>(tm->tm_mon + 1);
    out->dayOfWeek = static_cast<uint16_t>(tm->tm_wday);
    out->day = static_cast<uint16_t>(tm->tm_mday);
    out->hour = static_cast<uint16_t>(tm->tm_hour);
    out->minute = static_cast<uint16_t>(tm->tm_min);
    out->second = static_cast<uint16_t>(tm->tm_sec);
    out->milliseconds = 0;
    return true;
}

bool FormatShortDate(const SystemTime& time, char* out, size_t size) {
    if (size == 0) return false;
    const SYSTEMTIME st = ToWin32(time);
    const int capacity = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, out, capacity) > 0) return true;
    out[0] = '\0';
    return false;
}

bool FormatShortTime(const SystemTime& time, char* out, size_t size) {
    if (size == 0) return false;
    const SYSTEMTIME st = ToWin32(time);
    const int capacity = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    if (::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, out, capacity) > 0) return true;
    out[0] = '\0';
    return false;
}

// The zone and the user locale of the Win32 calls are the system's; a process cannot choose.
bool os::SetProcessTimeZone(const char*) { return false; }
bool os::SetProcessTimeLocale(const char*) { return false; }

}  // namespace platform

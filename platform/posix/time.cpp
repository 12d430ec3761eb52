// Clocks, zones and time formatting on POSIX: local time is the C library's, with the
// process's zone (TZ); the formats are the LC_TIME ones of the user's locale.
#include "platform/os.h"
#include "platform/time.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace platform {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr int64_t kSecondsFrom1601To1970 = kDaysFrom1601To1970 * 86400;
// Win32 refuses file times with the top bit set and years beyond 30827.
constexpr uint64_t kLargestFileTime = 0x7FFFFFFFFFFFFFFFull;

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsRealDate(const SystemTime& t) {
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12) return false;
    return t.day >= 1 && t.day <= DaysInMonth(t.year, t.month);
}

bool IsRealTimeOfDay(const SystemTime& t) {
    return t.hour < 24 && t.minute < 60 && t.second < 60 && t.milliseconds < 1000;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2);
}

bool FromTm(const struct tm& tm, uint16_t milliseconds, SystemTime* out) {
    const int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
    if (year < 0 || year > 0xFFFF) return false;
    out->year = static_cast<uint16_t>(year);
    out->month = static_cast<uint16_t>(tm.tm_mon + 1);
    out->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    out->day = static_cast<uint16_t>(tm.tm_mday);
    out->hour = static_cast<uint16_t>(tm.tm_hour);
    out->minute = static_cast<uint16_t>(tm.tm_min);
    out->second = static_cast<uint16_t>(tm.tm_sec);
    out->milliseconds = milliseconds;
    return true;
}

struct tm ToTm(const SystemTime& t) {
    struct tm tm {};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    // strftime may print the weekday and the day of the year; give it the real ones.
    const int64_t days = DaysFromCivil(t.year, t.month, t.day);
    tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    tm.tm_yday = static_cast<int>(days - DaysFromCivil(t.year, 1, 1));
    return tm;
}

// Formats with the LC_TIME item `item` of the user's locale, as the environment names it now.
// Like the Win32 calls, the date format checks only the date and the time format only the time.
bool FormatWithLocaleItem(nl_item item, const SystemTime& time, char* out, size_t size) {
    if (size > 0) out[0] = '\0';
    if (size == 0 || !(item == D_FMT ? IsRealDate(time) : IsRealTimeOfDay(time))) return false;
    locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return false;
    SystemTime fields = time;
    if (!IsRealDate(fields)) {
        // Only the time is printed; keep the library away from a date that does not exist.
        fields.year = 2000;
        fields.month = 1;
        fields.day = 1;
    }
    const struct tm tm = ToTm(fields);
    const size_t written = strftime_l(out, size, nl_langinfo_l(item, locale), &tm, locale);
    freelocale(locale);
    if (written == 0) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool SetOrClear(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

// The zone's offset from UTC now, in ticks east. Windows converts every file time with the
// bias in force now, not the one of the moment converted: a summer time read in winter is
// shifted by the winter offset.
bool CurrentOffsetTicks(int64_t* ticks) {
    const time_t now = time(nullptr);
    struct tm tm {};
    if (!localtime_r(&now, &tm)) return false;
    *ticks = static_cast<int64_t>(tm.tm_gmtoff) * kTicksPerSecond;
    return true;
}

bool ShiftFileTime(uint64_t time, int64_t ticks, uint64_t* out) {
    if (time > kLargestFileTime) return false;
    int64_t shifted = 0;
    if (__builtin_add_overflow(static_cast<int64_t>(time), ticks, &shifted) || shifted < 0) return false;
    *out = static_cast<uint64_t>(shifted);
    return true;
}

}  // namespace

void CurrentLocalTime(SystemTime* out) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm tm {};
    if (!localtime_r(&now.tv_sec, &tm) ||
        !FromTm(tm, static_cast<uint16_t>(now.tv_nsec / 1000000), out))
        std::memset(out, 0, sizeof *out);
}

uint64_t CurrentFileTime() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t milliseconds = now.tv_nsec / 1000000;
    return static_cast<uint64_t>((static_cast<int64_t>(now.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
                                 milliseconds * (kTicksPerSecond / 1000));
}

bool FileTimeToLocal(uint64_t fileTime, uint64_t* localOut) {
    int64_t offset = 0;
    return CurrentOffsetTicks(&offset) && ShiftFileTime(fileTime, offset, localOut);
}

bool LocalToFileTime(uint64_t localFileTime, uint64_t* fileTimeOut) {
    int64_t offset = 0;
    return CurrentOffsetTicks(&offset) && ShiftFileTime(localFileTime, -offset, fileTimeOut);
}

bool FileTimeToCalendar(uint64_t fileTime, SystemTime* out) {
    if (fileTime > kLargestFileTime) return false;
    const int64_t ticks = static_cast<int64_t>(fileTime);
    const int64_t totalSeconds = ticks / kTicksPerSecond;
    const int64_t days = totalSeconds / 86400;
    const int64_t secondOfDay = totalSeconds % 86400;
    int64_t y = 0, m = 0, d = 0;
    CivilFromDays(days - kDaysFrom1601To1970, &y, &m, &d);
    out->year = static_cast<uint16_t>(y);
    out->month = static_cast<uint16_t>(m);
    out->dayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    out->day = static_cast<uint16_t>(d);
    out->hour = static_cast<uint16_t>(secondOfDay / 3600);
    out->minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out->second = static_cast<uint16_t>(secondOfDay % 60);
    out->milliseconds = static_cast<uint16_t>(ticks % kTicksPerSecond / 10000);
    return true;
}

bool CalendarToFileTime(const SystemTime& time, uint64_t* fileTimeOut) {
    if (!IsRealDate(time) || !IsRealTimeOfDay(time)) return false;
    const int64_t days = DaysFromCivil(time.year, time.month, time.day) + kDaysFrom1601To1970;
    const int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
    *fileTimeOut = static_cast<uint64_t>(seconds * kTicksPerSecond + time.milliseconds * 10000);
    return true;
}

int32_t StandardTimeZoneBias() {
    tzset();
    // `timezone` is the standard-time offset west of UTC, which is what the bias counts.
    return static_cast<int32_t>(timezone / 60);
}

bool RuntimeLocalTime(int64_t secondsSince1970, SystemTime* out) {
    const time_t seconds = static_cast<time_t>(secondsSince1970);
    struct tm tm {};
    if (!localtime_r(&seconds, &tm)) return false;
    return FromTm(tm, 0, out);
}

bool FormatShortDate(const SystemTime& time, char* out, size_t size) {
    return FormatWithLocaleItem(D_FMT, time, out, size);
}

bool FormatShortTime(const SystemTime& time, char* out, size_t size) {
    return FormatWithLocaleItem(T_FMT, time, out, size);
}

bool os::SetProcessTimeZone(const char* zone) {
    const bool done = SetOrClear("TZ", zone);
    tzset();
    return done;
}

bool os::SetProcessTimeLocale(const char* locale) { return SetOrClear("LC_ALL", locale); }

}  // namespace platform

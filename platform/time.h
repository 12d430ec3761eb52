// Clocks, time zones and locale time formatting. posix/time.cpp and win32/time.cpp give the
// same results for the same zone; times are Win32 file times (100-ns units since 1601-01-01).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Calendar fields as the Win32 SYSTEMTIME holds them; dayOfWeek 0 = Sunday.
struct SystemTime {
    uint16_t year;
    uint16_t month;
    uint16_t dayOfWeek;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};

// The local time now, with milliseconds.
void CurrentLocalTime(SystemTime* out);
// The moment now as a file time (UTC), to the millisecond.
uint64_t CurrentFileTime();

// UTC file time to local file time and back. False when the time cannot be converted.
// Both apply the zone offset in force now, as Windows does, whatever the time converted: a
// summer time converted in winter is shifted by the winter offset.
bool FileTimeToLocal(uint64_t fileTime, uint64_t* localOut);
bool LocalToFileTime(uint64_t localFileTime, uint64_t* fileTimeOut);

// A file time to calendar fields and back, without any zone. False for a file time beyond
// what the system represents, or for calendar fields that name no real date and time.
bool FileTimeToCalendar(uint64_t fileTime, SystemTime* out);
bool CalendarToFileTime(const SystemTime& time, uint64_t* fileTimeOut);

// The zone's bias in minutes for standard time (UTC = local + bias); daylight saving is not
// included. 0 when the zone is unknown.
int32_t StandardTimeZoneBias();

// The runtime's local breakdown of a time value (seconds since 1970 UTC). False when the
// runtime cannot break it down.
bool RuntimeLocalTime(int64_t secondsSince1970, SystemTime* out);

// The date in the user's short date format and the time in the user's time format, as zero-
// terminated texts in `out`. False (and `out` empty when size > 0) when formatting fails,
// also for fields that name no real date and time or a text that does not fit.
bool FormatShortDate(const SystemTime& time, char* out, size_t size);
bool FormatShortTime(const SystemTime& time, char* out, size_t size);

}  // namespace platform

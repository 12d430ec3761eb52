// Conversions of the packed local time (one 32-bit count built from calendar fields with every
// month counted as 31 days). The object holds no state.
//
// packed = (year - 1980) * 32140800 + (month - 1) * 2678400 + (day - 1) * 86400
//          + hour * 3600 + minute * 60 + second, in 32-bit arithmetic that wraps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/time.h"

namespace support {

struct TimeFields {
    int32_t year;  // full year, e.g. 1999
    int32_t month;  // 1 to 12
    int32_t day;  // 1 to 31
    int32_t hour;
    int32_t minute;
    int32_t second;
};

constexpr uint32_t kPackedSecondsPerDay = 86400;
constexpr uint32_t kPackedSecondsPerMonth = 31 * kPackedSecondsPerDay;  // 2,678,400
constexpr uint32_t kPackedSecondsPerYear = 12 * kPackedSecondsPerMonth;  // 32,140,800

// The digit text: YYYYMMDDhhmmss and a terminating zero.
constexpr size_t kTimeDigitsSize = 15;
// Each part of a formatted time is made in 100 characters: date, blank, time, terminating zero.
constexpr size_t kTimeFormatPartSize = 100;
constexpr size_t kFormattedTimeSize = 2 * (kTimeFormatPartSize - 1) + 2;

// The fields are not checked: day 30 of February packs between the 28th and March 1st.
uint32_t PackTime(const TimeFields& fields);
void UnpackTime(uint32_t packed, TimeFields* fieldsOut);

class DateTimeConverter {
public:
    DateTimeConverter() = default;
    virtual ~DateTimeConverter() = default;

    uint32_t CurrentPackedTime() const;
    uint32_t PackTime(const TimeFields& fields) const;
    // 0 (Sunday) to 6, counting every year divisible by 4 as a leap year.
    int32_t DayOfWeek(const TimeFields& fields) const;

    void PackedToSystemTime(uint32_t packed, platform::SystemTime* systemTimeOut) const;
    // Day of week and milliseconds are ignored.
    uint32_t SystemTimeToPacked(const platform::SystemTime& systemTime) const;
    // A UTC file time as packed local time; 0 when the system cannot convert it.
    uint32_t FileTimeToPacked(uint64_t fileTime) const;
    // Seconds since 1970 UTC as packed local time; 0 when the runtime cannot break it down.
    uint32_t RuntimeTimeToPacked(int64_t time) const;
    // Applies the zone's standard bias only; daylight saving is not applied.
    uint32_t UtcToLocalPacked(uint32_t packed) const;

    // The user's short date, one blank, the user's time; a part that cannot be formatted is
    // left empty.
    void FormatPackedTime(uint32_t packed, char (&out)[kFormattedTimeSize]) const;
    void FormatFileTime(uint64_t fileTime, char (&out)[kFormattedTimeSize]) const;
    void FormatUtcPackedTime(uint32_t packed, char (&out)[kFormattedTimeSize]) const;

    void PackedToDigits(uint32_t packed, char (&out)[kTimeDigitsSize]) const;
    // Reads YYYYMMDDhhmmss; each field's digits end at the first non-digit, and a short text
    // gives 0 for the fields it lacks.
    uint32_t DigitsToPacked(const char* text) const;
    // Brings out-of-range fields into the packed calendar (month 13 is January next year).
    void NormalizeTimeDigits(const char* text, char (&out)[kTimeDigitsSize]) const;
};

}  // namespace support

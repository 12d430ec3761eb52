#include "support/date_time_converter.h"

#include <cstring>

namespace support {

namespace {

// Days before each month in a common year.
constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

TimeFields FieldsOf(const platform::SystemTime& t) {
    return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

// Writes `value` as exactly `width` decimal digits; the packed calendar keeps every field
// within its width.
char* WriteDigits(char* out, uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// Reads one field of `width` positions of a digit text. Digits end at the first non-digit;
// the terminating zero ends the whole text, and `*ended` tells the caller to read no further.
int32_t ReadDigitField(const char* text, int width, bool* ended) {
    int32_t value = 0;
    bool inDigits = true;
    for (int i = 0; i < width; ++i) {
        const char ch = text[i];
        if (ch == '\0') {
            *ended = true;
            break;
        }
        if (inDigits && ch >= '0' && ch <= '9')
            value = value * 10 + (ch - '0');
        else
            inDigits = false;
    }
    return value;
}

size_t PartLength(const char* part) {
    const void* end = std::memchr(part, '\0', kTimeFormatPartSize - 1);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - part) : kTimeFormatPartSize - 1;
}

void ComposeFormatted(const char* date, const char* time, char (&out)[kFormattedTimeSize]) {
    const size_t dateLength = PartLength(date);
    const size_t timeLength = PartLength(time);
    std::memcpy(out, date, dateLength);
    out[dateLength] = ' ';
    std::memcpy(out + dateLength + 1, time, timeLength);
    out[dateLength + 1 + timeLength] = '\0';
}

}  // namespace

uint32_t PackTime(const TimeFields& f) {
    return (static_cast<uint32_t>(f.year) - 1980u) * kPackedSecondsPerYear +
           (static_cast<uint32_t>(f.month) - 1u) * kPackedSecondsPerMonth +
           (static_cast<uint32_t>(f.day) - 1u) * kPackedSecondsPerDay + static_cast<uint32_t>(f.hour) * 3600u +
           static_cast<uint32_t>(f.minute) * 60u + static_cast<uint32_t>(f.second);
}

void UnpackTime(uint32_t packed, TimeFields* out) {
    out->year = static_cast<int32_t>(packed / kPackedSecondsPerYear + 1980);
    const uint32_t inYear = packed % kPackedSecondsPerYear;
    out->month = static_cast<int32_t>(inYear / kPackedSecondsPerMonth + 1);
    const uint32_t inMonth = inYear % kPackedSecondsPerMonth;
    out->day = static_cast<int32_t>(inMonth / kPackedSecondsPerDay + 1);
    const uint32_t inDay = inMonth % kPackedSecondsPerDay;
    out->hour = static_cast<int32_t>(inDay / 3600);
    out->minute = static_cast<int32_t>(inDay % 3600 / 60);
    out->second = static_cast<int32_t>(inDay % 60);
}

uint32_t DateTimeConverter::CurrentPackedTime() const {
    platform::SystemTime now;
    platform::CurrentLocalTime(&now);
    return SystemTimeToPacked(now);
}

uint32_t DateTimeConverter::PackTime(const TimeFields& fields) const { return support::PackTime(fields); }

int32_t DateTimeConverter::DayOfWeek(const TimeFields& fields) const {
    // A month outside 1..12 is carried into the year, so the table is never read outside.
    int64_t year = fields.year;
    int64_t month = static_cast<int64_t>(fields.month) - 1;
    year += FloorDiv(month, 12);
    month -= FloorDiv(month, 12) * 12;

    const int64_t y = year - 1980;
    // Years divisible by 4 before this one, from 1980 on (negative before 1980).
    const int64_t leapDaysBefore = FloorDiv(y + 3, 4);
    int64_t e = y * 365 + kDaysBeforeMonth[month] + fields.day + leapDaysBefore;
    if (year % 4 == 0 && month >= 2) e += 1;
    const int64_t weekday = (e + 1) % 7;  // 1980-01-01 was a Tuesday
    return static_cast<int32_t>(weekday < 0 ? weekday + 7 : weekday);
}

void DateTimeConverter::PackedToSystemTime(uint32_t packed, platform::SystemTime* out) const {
    TimeFields f;
    UnpackTime(packed, &f);
    out->year = static_cast<uint16_t>(f.year);
    out->month = static_cast<uint16_t>(f.month);
    out->dayOfWeek = static_cast<uint16_t>(DayOfWeek(f));
    out->day = static_cast<uint16_t>(f.day);
    out->hour = static_cast<uint16_t>(f.hour);
    out->minute = static_cast<uint16_t>(f.minute);
    out->second = static_cast<uint16_t>(f.second);
    out->milliseconds = 0;
}

uint32_t DateTimeConverter::SystemTimeToPacked(const platform::SystemTime& systemTime) const {
    return support::PackTime(FieldsOf(systemTime));
}

uint32_t DateTimeConverter::FileTimeToPacked(uint64_t fileTime) const {
    uint64_t local = 0;
    platform::SystemTime fields;
    if (!platform::FileTimeToLocal(fileTime, &local) || !platform::FileTimeToCalendar(local, &fields)) return 0;
    return SystemTimeToPacked(fields);
}

uint32_t DateTimeConverter::RuntimeTimeToPacked(int64_t time) const {
    platform::SystemTime fields;
    if (!platform::RuntimeLocalTime(time, &fields)) return 0;
    return SystemTimeToPacked(fields);
}

uint32_t DateTimeConverter::UtcToLocalPacked(uint32_t packed) const {
    return packed - 60u * static_cast<uint32_t>(platform::StandardTimeZoneBias());
}

void DateTimeConverter::FormatPackedTime(uint32_t packed, char (&out)[kFormattedTimeSize]) const {
    platform::SystemTime time;
    PackedToSystemTime(packed, &time);
    char date[kTimeFormatPartSize];
    char clock[kTimeFormatPartSize];
    if (!platform::FormatShortDate(time, date, sizeof date)) date[0] = '\0';
    if (!platform::FormatShortTime(time, clock, sizeof clock)) clock[0] = '\0';
    ComposeFormatted(date, clock, out);
}

void DateTimeConverter::FormatFileTime(uint64_t fileTime, char (&out)[kFormattedTimeSize]) const {
    FormatPackedTime(FileTimeToPacked(fileTime), out);
}

void DateTimeConverter::FormatUtcPackedTime(uint32_t packed, char (&out)[kFormattedTimeSize]) const {
    FormatPackedTime(UtcToLocalPacked(packed), out);
}

void DateTimeConverter::PackedToDigits(uint32_t packed, char (&out)[kTimeDigitsSize]) const {
    TimeFields f;
    UnpackTime(packed, &f);
    char* p = WriteDigits(out, static_cast<uint32_t>(f.year), 4);
    p = WriteDigits(p, static_cast<uint32_t>(f.month), 2);
    p = WriteDigits(p, static_cast<uint32_t>(f.day), 2);
    p = WriteDigits(p, static_cast<uint32_t>(f.hour), 2);
    p = WriteDigits(p, static_cast<uint32_t>(f.minute), 2);
    p = WriteDigits(p, static_cast<uint32_t>(f.second), 2);
    *p = '\0';
}

uint32_t DateTimeConverter::DigitsToPacked(const char* text) const {
    static constexpr int kWidths[6] = {4, 2, 2, 2, 2, 2};
    int32_t values[6] = {};
    bool ended = false;
    for (int i = 0; i < 6 && !ended; ++i) {
        values[i] = ReadDigitField(text, kWidths[i], &ended);
        text += kWidths[i];
    }
    return support::PackTime({values[0], values[1], values[2], values[3], values[4], values[5]});
}

void DateTimeConverter::NormalizeTimeDigits(const char* text, char (&out)[kTimeDigitsSize]) const {
    PackedToDigits(DigitsToPacked(text), out);
}

}  // namespace support

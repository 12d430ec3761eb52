// Conversions of the packed local time (one 32-bit count built from calendar fields with every
// month counted as 31 days). The object holds no state.
#pragma once

class DateTimeConverter {
public:
    DateTimeConverter() = default;
    virtual ~DateTimeConverter() = default;
};

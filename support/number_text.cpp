#include "support/number_text.h"

#include <cstring>

namespace support {

char* UIntToHex8(uint32_t value, char* out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 7; i >= 0; --i) {
        out[i] = kDigits[value & 0xFu];
        value >>= 4;
    }
    out[8] = '\0';
    return out + 8;
}

namespace {

// Characters count as signed bytes, as the stored names were made.
int32_t HexDigit(char text) {
    const int32_t ch = static_cast<int8_t>(text);
    if (ch >= 'a' && ch <= 'z') return ch - 87;
    if (ch >= 'A' && ch <= 'Z') return ch - 55;
    return ch - 48;
}

// Writes `text` (of `length` characters) and a terminator into out, or empties out.
int32_t Emit(const char* text, size_t length, char* out, size_t size) {
    if (!out || size == 0) return -1;
    if (length + 1 > size) {
        out[0] = '\0';
        return -1;
    }
    std::memcpy(out, text, length);
    out[length] = '\0';
    return static_cast<int32_t>(length);
}

// Decimal digits of `value` with a comma before each group of three, written backwards from
// `end`; returns the start.
char* GroupedDigits(uint64_t value, char* end) {
    char* p = end;
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            *--p = ',';
            inGroup = 0;
        }
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
        ++inGroup;
    } while (value != 0);
    return p;
}

char* PlainDigits(uint64_t value, char* end) {
    char* p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return p;
}

// The dotted address into `text` (at least kIpTextSize bytes); returns its length.
size_t DottedAddress(uint32_t address, char* text) {
    size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        char digits[4];
        const char* start = PlainDigits((address >> (8 * i)) & 0xFFu, digits + sizeof digits);
        const size_t count = static_cast<size_t>(digits + sizeof digits - start);
        if (i > 0) text[length++] = '.';
        std::memcpy(text + length, start, count);
        length += count;
    }
    return length;
}

}  // namespace

uint32_t HexToUInt(const char* text) {
    uint32_t value = 0;
    for (; text && *text != '\0'; ++text) value = (value << 4) | static_cast<uint32_t>(HexDigit(*text));
    return value;
}

uint64_t HexToUInt64(const char* text) {
    uint64_t value = 0;
    for (; text && *text != '\0'; ++text) value = value * 16 + static_cast<uint64_t>(static_cast<int64_t>(HexDigit(*text)));
    return value;
}

int32_t GroupedDecimal(uint32_t value, char* out, size_t size) { return GroupedDecimal64(value, out, size); }

int32_t GroupedDecimal64(uint64_t value, char* out, size_t size) {
    char text[kGroupedDecimal64Size];
    char* end = text + sizeof text - 1;
    const char* start = GroupedDigits(value, end);
    return Emit(start, static_cast<size_t>(end - start), out, size);
}

int32_t IpToText(uint32_t address, char* out, size_t size) {
    char text[kIpTextSize];
    return Emit(text, DottedAddress(address, text), out, size);
}

int32_t IpPortToText(uint32_t address, uint32_t port, char* out, size_t size) {
    char text[kIpPortTextSize];
    size_t length = DottedAddress(address, text);
    text[length++] = ':';
    char digits[10];
    const char* start = PlainDigits(port, digits + sizeof digits);
    const size_t count = static_cast<size_t>(digits + sizeof digits - start);
    std::memcpy(text + length, start, count);
    length += count;
    return Emit(text, length, out, size);
}

uint32_t TextToIp(const char* text) {
    if (!text) return 0;
    uint32_t address = 0;
    for (int field = 0; field < 4; ++field) {
        uint32_t value = 0;
        for (; *text != '\0' && *text != '.'; ++text)
            if (*text >= '0' && *text <= '9') value = value * 10 + static_cast<uint32_t>(*text - '0');
        address |= value << (8 * field);
        if (*text == '\0') break;
        ++text;  // the '.'
    }
    return address;
}

}  // namespace support

#include "app/identifier_text.h"

char* UIntToHex8(uint32_t value, char* out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 7; i >= 0; --i) {
        out[i] = kDigits[value & 0xFu];
        value >>= 4;
    }
    out[8] = '\0';
    return out + 8;
}

uint32_t HexToUInt(const char* text) {
    uint32_t value = 0;
    for (; *text != '\0'; ++text) {
        // Characters count as signed bytes, as the stored names were made.
        const int32_t ch = static_cast<int8_t>(*text);
        int32_t digit = ch - 48;
        if (ch >= 'a' && ch <= 'z')
            digit = ch - 87;
        else if (ch >= 'A' && ch <= 'Z')
            digit = ch - 55;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

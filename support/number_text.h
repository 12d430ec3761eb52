// Numbers as text: identifier texts (eight hexadecimal digits), unvalidated hexadecimal
// parsing, grouped decimals and dotted IPv4 addresses. The writers are given the size of their
// buffer; each has a size constant that always suffices.
#pragma once

#include <cstddef>
#include <cstdint>

namespace support {

// Identifier texts: an unsigned 32-bit number as exactly eight lower-case hexadecimal digits.
// They name list entries and user folders and hold the ID counters.
constexpr int kIdentifierTextSize = 9;  // eight digits and the terminating zero

// Writes the eight digits of `value` and a terminating zero into `out` (at least 9 bytes);
// returns a pointer to that terminating zero.
char* UIntToHex8(uint32_t value, char* out);

// Reads `text` as hexadecimal without rejecting anything: a to z count from 10, A to Z from 10,
// every other character as its code minus '0'; digits shift in from the right, so of a longer
// run of hexadecimal digits the last eight count. Folder names that are not identifiers still
// give a number this way. A null text gives 0.
uint32_t HexToUInt(const char* text);
// The same digits in 64 bits, accumulated as value * 16 + digit (a negative digit borrows).
uint64_t HexToUInt64(const char* text);

constexpr size_t kGroupedDecimalSize = 14;    // "4,294,967,295" and the terminating zero
constexpr size_t kGroupedDecimal64Size = 27;  // "18,446,744,073,709,551,615" and the zero
constexpr size_t kIpTextSize = 16;            // "255.255.255.255" and the zero
constexpr size_t kIpPortTextSize = 27;        // an address, ':' and a 32-bit port

// Each writes its text and a terminating zero into `out` and returns the text's length, or -1
// (`out` empty) when `size` bytes do not hold it.
//
// `value` in decimal with a comma before every group of three digits from the right: 1,234,567.
int32_t GroupedDecimal(uint32_t value, char* out, size_t size);
int32_t GroupedDecimal64(uint64_t value, char* out, size_t size);
// The four bytes of `address`, least significant first, in decimal joined by '.'.
int32_t IpToText(uint32_t address, char* out, size_t size);
// IpToText, ':' and `port` in decimal.
int32_t IpPortToText(uint32_t address, uint32_t port, char* out, size_t size);

// Up to four fields separated by '.'; in each the decimal digits are accumulated and any other
// character is ignored; field i lands at bit 8 * i. No range check: 256 spills into the next
// byte.
uint32_t TextToIp(const char* text);

}  // namespace support

// Identifier texts: an unsigned 32-bit number as exactly eight lower-case hexadecimal digits.
// They name list entries and user folders and hold the ID counters.
#pragma once

#include <cstdint>

constexpr int kIdentifierTextSize = 9;  // eight digits and the terminating zero

// Writes the eight digits of `value` and a terminating zero into `out` (at least 9 bytes);
// returns a pointer to that terminating zero.
char* UIntToHex8(uint32_t value, char* out);

// Reads `text` as hexadecimal without rejecting anything: a to z count from 10, A to Z from 10,
// every other character as its code minus '0'; digits shift in from the right, so of a longer
// run of hexadecimal digits the last eight count. Folder names that are not identifiers still
// give a number this way.
uint32_t HexToUInt(const char* text);

// The standard CRC-32 (reflected polynomial 0xEDB88320, initial value all ones, final
// complement): the checksum of zlib and IEEE 802.3.
#pragma once

#include <cstddef>
#include <cstdint>

namespace support {

uint32_t Crc32(const void* data, size_t length);
// Continues `crc`, the checksum of the bytes before `data`: Crc32Update(d, n, 0) is
// Crc32(d, n), and feeding a text in pieces gives the checksum of the whole.
uint32_t Crc32Update(const void* data, size_t length, uint32_t crc);

}  // namespace support
